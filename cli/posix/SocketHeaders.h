#pragma once

// The socket interface's declarations on POSIX.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
