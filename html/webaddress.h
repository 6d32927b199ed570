#pragma once

#include <QStringView>

namespace skarnel {

// Whether a scheme, already in lower case as a parsed address gives it, is one of the web's: http
// or https, the only addresses the program loads and whose pages it reads.
inline bool isWebScheme(QStringView scheme)
{
    return scheme == u"http" || scheme == u"https";
}

} // namespace skarnel
