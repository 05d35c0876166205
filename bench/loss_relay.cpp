// The lossy link of the loss benchmark (bench/loss.py): the tests' relay
// (tests/server/engine/Relay.cpp) as a program of its own, between one
// client and one server on 127.0.0.1, dropping datagrams in both directions
// from a seeded generator and neither doubling nor delaying any.
//
//   loss_relay SERVER_PORT LOSS SEED [LIMIT_SECONDS]
//
// LOSS is the probability that a datagram is lost (0 to 1). Prints the port
// clients send their requests to as the first line of its output, then
// relays until SIGTERM or SIGINT, or until LIMIT_SECONDS (default 3600) have
// passed, and prints its counts as the last line:
//   counts forwarded N dropped N ignored N
// With LOSS_RELAY_TRACE set, every datagram and its fate go to stderr.
// Exits 0 after relaying, 1 when its sockets could not be made, 2 on bad
// arguments.
#include "Relay.h"
#include "Signals.h"

#include <QCoreApplication>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

bool ParseLong(const char* pText, long nMin, long nMax, long* pValue) {
    char* pEnd = nullptr;
    errno = 0;
    const long n = std::strtol(pText, &pEnd, 10);
    if (errno != 0 || pEnd == pText || *pEnd != '\0' || n < nMin || n > nMax)
        return false;
    *pValue = n;
    return true;
}

bool ParseUnsigned(const char* pText, unsigned long nMax, unsigned long* pValue) {
    char* pEnd = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(pText, &pEnd, 10);
    if (errno != 0 || pEnd == pText || *pEnd != '\0' || *pText == '-' || n > nMax)
        return false;
    *pValue = n;
    return true;
}

int Usage() {
    std::fprintf(stderr, "usage: loss_relay SERVER_PORT LOSS SEED [LIMIT_SECONDS]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5)
        return Usage();
    long nServerPort = 0;
    long nLimit = 3600;
    unsigned long nSeed = 0;
    char* pEnd = nullptr;
    const double loss = std::strtod(argv[2], &pEnd);
    if (!ParseLong(argv[1], 1, 65535, &nServerPort) || pEnd == argv[2] || *pEnd != '\0' ||
        !(loss >= 0 && loss <= 1) || !ParseUnsigned(argv[3], 0xFFFFFFFFul, &nSeed) ||
        (argc == 5 && !ParseLong(argv[4], 1, 7 * 24 * 3600, &nLimit)))
        return Usage();

    QCoreApplication app(argc, argv);
    QuitOnTerminationSignals();
    // The bench reads the first line and may stop reading: a closed pipe
    // must not end the relay before its time.
    std::signal(SIGPIPE, SIG_IGN);

    Relay relay(static_cast<uint16_t>(nServerPort), {loss, 0, 0}, static_cast<uint32_t>(nSeed));
    if (!relay.Ok()) {
        std::fprintf(stderr, "loss_relay: the relay's sockets could not be made\n");
        return 1;
    }
    if (qEnvironmentVariableIsSet("LOSS_RELAY_TRACE")) {
        const QString label = qEnvironmentVariable("LOSS_RELAY_TRACE");
        relay.SetTrace(label.isEmpty() ? QString("relay") : label);
    }

    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &app, [] { QCoreApplication::quit(); });
    limit.start(static_cast<int>(nLimit * 1000));

    std::printf("%u\n", static_cast<unsigned>(relay.Port()));
    std::fflush(stdout);
    app.exec();

    const Relay::Counts& counts = relay.Stats();
    std::printf("counts forwarded %d dropped %d ignored %d\n", counts.nForwarded, counts.nDropped,
                counts.nIgnored);
    std::fflush(stdout);
    return 0;
}
