// Completion codes of a transfer: the wParam of WM_DOWNLOAD_FINISHED. The lParam
// carries the detail named beside each code.
#pragma once

#include <cstdint>

namespace tessaly {

inline constexpr uint32_t DL_OK = 0;           // body read to its end; lParam 0
inline constexpr uint32_t DL_ERR_SESSION = 1;  // session or its status callback; system error
inline constexpr uint32_t DL_ERR_CONNECT = 2;  // connect, open or send the request; system error
inline constexpr uint32_t DL_ERR_READ = 3;     // reading the body or writing the file; system error
inline constexpr uint32_t DL_ERR_QUERY = 4;    // reading the reply's status code; system error
inline constexpr uint32_t DL_ERR_STATUS = 5;   // status none of 200, 206, 401, 407; the status
inline constexpr uint32_t DL_ABORTED = 6;      // the abort flag was found set; lParam 0

}  // namespace tessaly
