// WinHTTP constants that some SDK headers (mingw-w64's among them) lack, with the values
// Microsoft documents. Each is defined only where the SDK has none.
#pragma once

#include <windows.h>
// windows.h first: the header below needs its types.
#include <winhttp.h>

#ifndef WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH
#define WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH 0
#endif
#ifndef WINHTTP_FLAG_ESCAPE_DISABLE
#define WINHTTP_FLAG_ESCAPE_DISABLE 0x00000040
#endif
#ifndef WINHTTP_FLAG_ESCAPE_DISABLE_QUERY
#define WINHTTP_FLAG_ESCAPE_DISABLE_QUERY 0x00000080
#endif
#ifndef WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT
#define WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT 7
#endif
#ifndef WINHTTP_OPTION_SERVER_CERT_CONTEXT
#define WINHTTP_OPTION_SERVER_CERT_CONTEXT 78
#endif
#ifndef SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE
#define SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE 0x00000200
#endif
#ifndef ERROR_WINHTTP_RESEND_REQUEST
#define ERROR_WINHTTP_RESEND_REQUEST (WINHTTP_ERROR_BASE + 32)
#endif
