#include "loopbackport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

bool portShowsAnErrorText(int port)
{
    return std::to_string(port).find("404") != std::string::npos;
}

int boundPort(int socket)
{
    sockaddr_in where {};
    socklen_t size = sizeof where;
    if (::getsockname(socket, reinterpret_cast<sockaddr *>(&where), &size) != 0)
        return -1;
    return ntohs(where.sin_port);
}

int bindFreeLoopbackPort(const std::string &host)
{
    sockaddr_in where {};
    where.sin_family = AF_INET;
    where.sin_port = 0;
    if (::inet_pton(AF_INET, host.c_str(), &where.sin_addr) != 1)
        return -1;
    // A port turned down stays bound until the end, so that the next bind gets another one.
    std::vector<int> turnedDown;
    int chosen = -1;
    for (int attempt = 0; attempt < 32 && chosen < 0; ++attempt) {
        const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (s < 0 || ::bind(s, reinterpret_cast<sockaddr *>(&where), sizeof where) != 0) {
            if (s >= 0)
                ::close(s);
            break;
        }
        if (portShowsAnErrorText(boundPort(s)))
            turnedDown.push_back(s);
        else
            chosen = s;
    }
    for (int s : turnedDown)
        ::close(s);
    return chosen;
}
