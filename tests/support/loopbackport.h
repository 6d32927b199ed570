#pragma once

#include <string>

// Pages in tests link to their own servers by full address, so a server's port is part of such a
// page's text. A port such as 34047 would show the error text "404" there, and the check would
// count the page as broken whatever it holds. The test servers take only ports that show none.
bool portShowsAnErrorText(int port);

// A socket bound to a free port of the loopback address `host` that shows no error text, not yet
// listening, with SO_REUSEADDR set; -1 when none could be had.
int bindFreeLoopbackPort(const std::string &host);

// The port a bound socket is bound to.
int boundPort(int socket);
