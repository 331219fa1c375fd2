#pragma once
// What a fuzzing client sends to the command pipe in one connection: well-formed requests of every
// command, the same with their payload damaged, and streams whose frame lengths lie.

#include "FuzzRun.h"

#include "PipeBytes.h"

#include <cstdint>
#include <string>
#include <vector>

struct PipeBatch {
    std::string kind;
    // One WriteFile each, in order.
    std::vector<Bytes> writes;
    // Every frame's length is the number of bytes that follow it, however the stream is cut into
    // writes: the server reads the stream as the frames it was made of, and answers a request sent
    // after it.
    bool framed = false;
    unsigned frames = 0;

    Bytes stream() const;
};

struct PipeProfile {
    // Commands that take seconds on the real service (posting the logs) come seldom.
    bool slowCommandsRare = false;
};

PipeBatch makePipeBatch(Random& random, const PipeProfile& profile);

// A request whose payload is exactly `payloadSize` bytes, its last field running past the end by a
// few bytes (or, now and then, ending exactly there): a frame that fills a fresh connection's
// buffer to the byte, so that nothing of the buffer lies after the payload.
PipeBatch makeEdgeBatch(Random& random, std::uint32_t payloadSize);
