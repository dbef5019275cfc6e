#pragma once

// The socket interface's declarations on Windows: Winsock 2.
#include <winsock2.h>
#include <ws2tcpip.h>
