/* VYXZebRet.h compiled as C: the table answers C callers the same. */
#include "VYXZebRet.h"

const char* RetNameFromC(int code) { return VYXZEB_RetName(code); }
const char* RetTextFromC(int code) { return VYXZEB_RetText(code); }

size_t RetCountFromC(void)
{
    size_t n = 0;
    VYXZEB_RetTable(&n);
    return n;
}
