#pragma once

#include <string>

// The benchmark's site over HTTPS with HTTP/2, as most sites are served: the same pages as the
// plain site (SiteShape, `pages` internal pages), written to disk under `work` and served by
// Debian's nginx on 127.0.0.1 (the site) and 127.0.0.2 (the external pages), each on a free port,
// with a certificate for both addresses from a test authority that openssl makes in `work` for
// this run alone. nginx runs with a configuration, pid file, logs and temporary folders of its
// own in `work`, in the foreground as this process's child, and is stopped when the row ends,
// when this process dies, or when it fails.
//
// Timed, each `runs` times and put as the median (key=value lines, all starting with "tls_"):
// wget crawling the same two levels as the crawl (trusting the authority through
// --ca-certificate), one curl process fetching every address the check fetches (--cacert), and
// `skarnel --check` trusting it through --ca-file: once as is (crawl and check), once with every
// address excluded from the check (the crawl alone), the check's time being the difference.
// While skarnel has no --ca-file, the skarnel side is put as "n/a" and the others are still
// measured. Without nginx or openssl nothing is run and `tls_missing` names the program.
int runTlsRow(int pages, int runs, const std::string &work);
