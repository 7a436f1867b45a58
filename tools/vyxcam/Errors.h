// Errors.h - how vyxcam ends a command: exit statuses, and the three kinds
// of failure a command can meet.
//
//   UsageError   the command line asks for something impossible (a value
//                outside a range, a missing file name): status 2, printed
//                with the command's usage line.
//   CallError    a library call failed: status 1, printed as
//                "VYXZEB_CaptureData: -1011 VYXZEB_RET_CAPTURE_TIMEOUT (...)".
//   RunError     anything else at run time (a file that cannot be written):
//                status 1, printed as "vyxcam: <message>".
//
// Commands throw them; main() prints them and returns the status, so every
// object on the way (the open camera above all) is destroyed in order.
#ifndef VYXCAM_ERRORS_H
#define VYXCAM_ERRORS_H

#include <stdexcept>
#include <string>

namespace vyxcam {

enum ExitStatus : int {
    kExitOk = 0,
    kExitCameraError = 1,   // a library call or the run itself failed
    kExitUsage = 2,         // the command line is wrong
};

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct RunError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A failing VYXZEB_ call.  what() is the one-line report.
class CallError : public std::runtime_error {
public:
    CallError(const char* function, int code, const std::string& detail = {});
    const std::string& function() const { return m_function; }
    int code() const { return m_code; }

private:
    std::string m_function;
    int m_code;
};

// "VYXZEB_SetGain: -1025 VYXZEB_RET_SENSOR_FAILED (<text>)": the code's name
// from the return-code table, and in parentheses the caller's detail when it
// knows more than the table's one-line text, else that text.
std::string describeCall(const char* function, int code, const std::string& detail = {});

// Prints describeCall() on standard error; returns the code.
int reportCall(const char* function, int code, const std::string& detail = {});

// Throws CallError when code is not VYXZEB_RET_SUCCESS.
void check(const char* function, int code, const std::string& detail = {});

}  // namespace vyxcam

// Calls a VYXZEB_ function and throws CallError, named after the function,
// when it fails: VYXCAM_CHECK(VYXZEB_SetGain, sensor, 16);
#define VYXCAM_CHECK(fn, ...) ::vyxcam::check(#fn, fn(__VA_ARGS__))

#endif
