#pragma once

#include <net/httpclient.h>

#include <QString>

#include <memory>

using namespace skarnel;

// Whether `host` names this machine: a test reaches no other, and never asks the machine's
// resolver.
inline bool isLoopbackHost(const QString &host)
{
    return host.startsWith(QLatin1String("127.")) || host == QLatin1String("localhost")
           || host == QLatin1String("[::1]") || host == QLatin1String("::1");
}

// A client for tests: every host but a loopback address is taken not to resolve.
inline std::shared_ptr<HttpClient> loopbackOnlyClient()
{
    HttpClient::Options options;
    options.unresolvable = [](const QString &host) { return !isLoopbackHost(host); };
    return HttpClient::create(std::move(options));
}
