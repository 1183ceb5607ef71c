// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin benchmarks -- the yardstick: a bare SOCK_SEQPACKET round trip with
// frames of a given size, what any request through the driver service costs
// at the least.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <thread>
#include <vector>

inline void BareSeqpacketRoundTrip(benchmark::State& state, std::size_t requestBytes, std::size_t replyBytes) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        state.SkipWithError("socketpair failed");
        return;
    }
    std::thread echo([fd = pair[1], replyBytes] {
        std::vector<uint8_t> frame(replyBytes > 4096 ? replyBytes : 4096);
        while (recv(fd, frame.data(), frame.size(), 0) > 0)
            if (send(fd, frame.data(), replyBytes, MSG_NOSIGNAL) != static_cast<ssize_t>(replyBytes)) break;
    });
    std::vector<uint8_t> request(requestBytes), reply(replyBytes);
    for (auto _ : state) {
        if (send(pair[0], request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()) ||
            recv(pair[0], reply.data(), reply.size(), 0) != static_cast<ssize_t>(reply.size())) {
            state.SkipWithError("the echo failed");
            break;
        }
        benchmark::DoNotOptimize(reply.data());
    }
    shutdown(pair[0], SHUT_RDWR);
    echo.join();
    close(pair[0]);
    close(pair[1]);
}
