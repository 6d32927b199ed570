#pragma once

#include "support/loopbackclient.h"

#include <app/commandline.h>
#include <net/networkservices.h>

#include <QBuffer>
#include <QByteArray>
#include <QStringList>

// What a run of the command line gave: its exit status, its standard output and standard error.
struct Run
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// The command line in this process, over the real network services on loopback only, which take
// the run's network settings as the program's do.
inline Run runHere(const QStringList &options)
{
    skarnel::NetworkServices network(loopbackOnlyClient());
    QBuffer out;
    QBuffer err;
    out.open(QIODevice::WriteOnly);
    err.open(QIODevice::WriteOnly);
    skarnel::CommandLineServices services {network, network, nullptr, out, err};
    services.useNetworkPolicy = [&network](const skarnel::NetworkPolicy &policy) {
        network.setPolicy(policy);
    };
    Run run;
    run.status = skarnel::runCommandLine(QStringList {"skarnel"} + options, services);
    run.out = out.data();
    run.err = err.data();
    return run;
}
