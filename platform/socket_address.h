// IPv4 socket addresses (sockaddr_in, AF_INET) as the platform declares them:
// Winsock on Windows, the BSD socket headers elsewhere.
#ifndef TILLWIRE_PLATFORM_SOCKET_ADDRESS_H
#define TILLWIRE_PLATFORM_SOCKET_ADDRESS_H

#ifdef _WIN32
#include <winsock2.h>
#else
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#endif
