// The least a lock-step transfer can cost on this machine: two processes on
// loopback, one sending blocksize+4 bytes and waiting for 4 in answer, as
// many times as a TFTP transfer of the file has blocks. No files, no event
// loop: what is left is the kernel's round trip.
//
//   bench_floor BLKSIZE FILE_BYTES PORT
//
// Prints the wall seconds of the exchange; exits 1 when it broke.
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

sockaddr_in Loopback(int nPort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(nPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A lost datagram would stall a lock-step exchange for good; none is
// expected on loopback, so a stall counts as a failure.
void SetReceiveTimeout(int fd) {
    timeval limit{};
    limit.tv_sec = 10;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

int Receiver(int fd, long nBlocks, int nBlockSize) {
    std::vector<char> buffer(static_cast<size_t>(nBlockSize) + 4);
    const char ack[4] = {0, 4, 0, 0};
    for (long i = 0; i < nBlocks; ++i) {
        sockaddr_in from{};
        socklen_t nFrom = sizeof from;
        ssize_t n = recvfrom(fd, buffer.data(), buffer.size(), 0,
                             reinterpret_cast<sockaddr*>(&from), &nFrom);
        if (n < 4)
            return 1;
        if (sendto(fd, ack, sizeof ack, 0, reinterpret_cast<sockaddr*>(&from), nFrom) != 4)
            return 1;
    }
    return 0;
}

int Sender(int nPort, long nBlocks, int nBlockSize) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = Loopback(nPort);
    sockaddr_in local = Loopback(0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
        return 1;
    SetReceiveTimeout(fd);
    std::vector<char> block(static_cast<size_t>(nBlockSize) + 4, 'x');
    char ack[16];
    for (long i = 0; i < nBlocks; ++i) {
        if (send(fd, block.data(), block.size(), 0) != static_cast<ssize_t>(block.size()))
            return 1;
        if (recv(fd, ack, sizeof ack, 0) != 4)
            return 1;
    }
    close(fd);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: bench_floor BLKSIZE FILE_BYTES PORT\n");
        return 2;
    }
    const int nBlockSize = std::atoi(argv[1]);
    const long nBytes = std::atol(argv[2]);
    const int nPort = std::atoi(argv[3]);
    if (nBlockSize < 8 || nBlockSize > 65464 || nBytes < 0 || nPort < 1 || nPort > 65535)
        return 2;
    // As in TFTP: a last, shorter (possibly empty) block ends the transfer.
    const long nBlocks = nBytes / nBlockSize + 1;

    // Bound before the fork, so the sender never finds the port closed.
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address = Loopback(nPort);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("bench_floor: bind");
        return 1;
    }
    SetReceiveTimeout(fd);
    const auto tStart = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child < 0)
        return 1;
    if (child == 0)
        _exit(Receiver(fd, nBlocks, nBlockSize));
    close(fd);
    int nSent = Sender(nPort, nBlocks, nBlockSize);
    int nStatus = 0;
    waitpid(child, &nStatus, 0);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - tStart;
    if (nSent != 0 || !WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0) {
        std::fprintf(stderr, "bench_floor: the exchange broke\n");
        return 1;
    }
    std::printf("%.6f\n", elapsed.count());
    return 0;
}
