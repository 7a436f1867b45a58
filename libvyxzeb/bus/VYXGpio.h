// VYXGpio.h - the board's ten general-purpose lines through its GPIO driver.
//
// Lines 0 to 2 are inputs only; lines 3 to 9 can be read and driven.  The
// class keeps no line state: each call is one ioctl on the driver's node with
// a pointer to one 32-bit value.
#ifndef VYX_VYXGPIO_H
#define VYX_VYXGPIO_H

class CGPIO {
public:
    // *pbInit is true when the driver's node opened.
    explicit CGPIO(bool* pbInit);
    virtual ~CGPIO();

    // Level of line 0..9 into *pbLevel (written only on success).
    // 0, or -1010 for a bad line, no device or a refused request.
    virtual int GPIOGet(unsigned int unLine, bool* pbLevel);
    // Drives line 3..9.  0, or -1010 for a bad line, no device or a refused
    // request.
    virtual int GPIOSet(unsigned int unLine, bool bLevel);

    int GPIOInit();

    // Driver request numbers of a line (Nodes.h).  Line 2 reads with request
    // 3: request 2 belongs to the driver and is never issued.
    static unsigned long ReadRequest(unsigned int unLine);
    static unsigned long WriteRequest(unsigned int unLine);

private:
    CGPIO(const CGPIO&) = delete;
    CGPIO& operator=(const CGPIO&) = delete;

    int m_nFd; // the driver's node, -1 when not open
};

#endif
