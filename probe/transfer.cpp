// The transfer stage's socket work (the rules are in transfer_rules.cpp).
#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "probe/errors.h"
#include "probe/http_requests.h"
#include "probe/http_stream.h"
#include "probe/result.h"
#include "probe/tcpinfo.h"
#include "probe/transfer.h"

namespace tv {
namespace {

// Plaintext per TLS record of the upload: below every library's record limit.
constexpr size_t kUploadPiece = 16000;
// How often the acknowledged count is read while an upload drains.
constexpr int32_t kAckPollMs = 10;

int64_t msBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

enum class Pull {
    Data,   // bytes arrived (decrypted or still part of a record)
    Quiet,  // nothing within the wait
    Closed, // the peer ended the session in order (close_notify or FIN)
    Broken, // a reset, another socket error, or bytes TLS cannot read
};

// Decrypts what is buffered into `plain`; when nothing was buffered, waits up
// to `waitMs` for more bytes.
Pull pull(TlsSession& s, std::string& plain, int32_t waitMs) {
    bool got = false;
    for (;;) {
        uint32_t status = 0;
        const TlsRead r = tlsBackendDecrypt(*s.backend, s.pendingInput, plain, status);
        if (r == TlsRead::Record) {
            got = true;
            continue;
        }
        if (r == TlsRead::Closed)
            return got ? Pull::Data : Pull::Closed;
        if (r == TlsRead::Error)
            return Pull::Broken;
        break;
    }
    if (got)
        return Pull::Data;
    if (waitMs < 1)
        return Pull::Quiet;
    sockSetIoTimeouts(s.socket, waitMs);
    int err = 0;
    const long n = sessionReceive(s, err);
    if (n > 0) {
        // Whatever of it forms whole records is decrypted now.
        pull(s, plain, 0);
        return Pull::Data;
    }
    if (n == 0)
        return Pull::Closed;
    return (err == kWsaTimedOut || err == kWsaWouldBlock) ? Pull::Quiet : Pull::Broken;
}

bool encryptAndSend(TlsSession& s, std::string_view plain, int& err) {
    std::string wire;
    uint32_t status = 0;
    if (tlsBackendEncrypt(*s.backend, plain, wire, status) != TlsWrite::Ok) {
        err = 0;
        return false;
    }
    return sessionSend(s, wire, err);
}

// The rate of a direction: the better of two measures, so that neither a far
// path nor a busy server reads as throttled. Over the last kXferRateWindow
// bytes, TCP's first windows (slow start) are left out; over the whole
// direction, one pause of the server between answers weighs little. A
// throttle holds both down.
struct RateClock {
    std::vector<std::pair<Clock::time_point, uint64_t>> points;

    void note(uint64_t bytes, Clock::time_point at) {
        if (points.empty() || bytes > points.back().second)
            points.emplace_back(at, bytes);
    }
    int32_t kbps(uint64_t bytes, Clock::time_point end) const {
        if (bytes < kXferRateWindow || points.empty())
            return -1;
        const uint64_t from = bytes - kXferRateWindow;
        int32_t tail = -1;
        // The latest point at or before the window's start.
        for (auto it = points.rbegin(); it != points.rend(); ++it) {
            if (it->second <= from) {
                tail = kbitPerSecond(bytes - it->second, msBetween(it->first, end));
                break;
            }
        }
        const auto& first = points.front();
        const int32_t whole = kbitPerSecond(bytes - first.second, msBetween(first.first, end));
        return std::max(tail, whole);
    }
};

// One connection's transfer, both directions at once: the GETs and the
// upload go out together, then one loop reads the answers and the
// acknowledgements until each direction has its outcome. Doing both at once
// costs one transfer's round trips instead of two.
struct Transfer {
    Transfer(TlsSession& session, const XferRequest& request) : s(session), req(request) {}

    TlsSession& s;
    const XferRequest& req;
    HttpStreamReader reader;
    Clock::time_point start = clockNow();
    Clock::time_point deadline =
        start + std::chrono::milliseconds(int64_t{req.stallMs} * kXferDeadlineStalls);

    // Download.
    size_t asked = req.getsSent; // GETs sent; the HTTP stage sent the first ones
    bool downDone = false;
    XferProgress down;
    RateClock downRate;
    Clock::time_point downMove = start;

    // Upload.
    bool upRan = false, upDone = false, byAcks = false;
    uint64_t acked0 = 0, upSent = 0, upProgress = 0;
    size_t answersBeforePost = 0;
    bool sendStalled = false;
    XferProgress up;
    RateClock upRate;
    Clock::time_point upMove = start;

    bool open = true; // the connection still carries bytes

    // GETs for what the volume still lacks, judged by the answers so far
    // (before any is whole, as if each brought 8 KiB); false when none can be
    // asked.
    bool askMore(int& err) {
        if (reader.closeAnnounced() || reader.malformed() || asked >= kXferMaxRequests)
            return false;
        const uint64_t have = reader.bytesIn();
        const uint64_t answers = std::max<uint64_t>(1, reader.responses());
        const uint64_t perAnswer =
            reader.responses() ? std::max<uint64_t>(1, have / answers) : kXferVolume / 8;
        const uint64_t missing = kXferVolume - std::min(kXferVolume, have);
        size_t n = static_cast<size_t>((missing + perAnswer - 1) / perAnswer);
        n = std::clamp<size_t>(n, 1, kXferMaxRequests - asked);
        if (!encryptAndSend(s, buildPipelinedGets(req.hostValue, n, false), err))
            return false;
        asked += n;
        return true;
    }

    // The head and the body in records of kUploadPiece bytes. A send that
    // waits the stall time for room means nothing was acknowledged.
    void sendUpload() {
        upRan = true;
        byAcks = tcpBytesAcked(s.socket, acked0);
        // The POST's answer follows those of the GETs asked so far.
        answersBeforePost = req.download ? asked : 0;
        upRate.note(0, start);
        const uint64_t out0 = s.rawOut;
        sockSetIoTimeouts(s.socket, req.stallMs);
        UploadFiller filler(static_cast<uint64_t>(start.time_since_epoch().count()));
        std::string piece = buildUploadHead(req.hostValue, kXferVolume, false);
        uint64_t bodyLeft = kXferVolume;
        while (bodyLeft > 0 || !piece.empty()) {
            const size_t room = kUploadPiece > piece.size() ? kUploadPiece - piece.size() : 0;
            const size_t take = static_cast<size_t>(std::min<uint64_t>(room, bodyLeft));
            filler.append(piece, take);
            bodyLeft -= take;
            int err = 0;
            if (!encryptAndSend(s, piece, err)) {
                if (err == kWsaTimedOut || err == kWsaWouldBlock) {
                    sendStalled = true;
                } else {
                    up.reset = true;
                    upDone = true;
                }
                break;
            }
            piece.clear();
        }
        upSent = s.rawOut - out0;
        // Judged by the answer, the wait for it starts once the body is out.
        if (!byAcks)
            upMove = clockNow();
    }

    void stepDown(Clock::time_point now) {
        const uint64_t have = reader.bytesIn();
        downRate.note(have, downMove);
        if (have >= kXferVolume) {
            down.reachedVolume = true;
            downDone = true;
            return;
        }
        // Every answer asked for is in: ask for the rest, or end when no more
        // can be asked (the server closes, or the request cap).
        const size_t expected = asked + (upRan ? 1 : 0);
        if (reader.responses() >= expected && !reader.midResponse()) {
            int err = 0;
            if (!askMore(err)) {
                if (err != 0)
                    down.reset = true;
                else
                    down.endedByServer = true;
                downDone = true;
                return;
            }
        }
        if (msBetween(downMove, now) >= req.stallMs) {
            down.stalled = true;
            downDone = true;
        } else if (now >= deadline) {
            down.deadline = true;
            downDone = true;
        }
    }

    void stepUp(Clock::time_point now) {
        if (byAcks) {
            uint64_t acked = acked0;
            tcpBytesAcked(s.socket, acked);
            if (acked - acked0 > upProgress) {
                upProgress = acked - acked0;
                upMove = now;
                upRate.note(upProgress, now);
            }
            if (!sendStalled && upProgress >= upSent) {
                up.reachedVolume = true;
                upDone = true;
                return;
            }
        } else if (!downDone && downMove > upMove) {
            // The POST's answer waits behind those of the GETs: while they
            // still come, the upload is not stalled.
            upMove = downMove;
        }
        if (!byAcks && reader.responses() > answersBeforePost) {
            // The answer came after the whole body.
            upProgress = upSent;
            upMove = now;
            up.reachedVolume = !sendStalled;
            upDone = true;
            return;
        }
        if (sendStalled || msBetween(upMove, now) >= req.stallMs) {
            up.stalled = true;
            upDone = true;
        } else if (now >= deadline) {
            up.deadline = true;
            upDone = true;
        }
    }

    // The connection ended: each direction still open takes it as its end.
    void ended(Pull r) {
        open = false;
        if (r == Pull::Closed)
            reader.finish();
        // A close at an answer's end is the server's own end.
        const bool tidy = r == Pull::Closed && !reader.truncated();
        if (!downDone) {
            (tidy ? down.endedByServer : down.reset) = true;
            downDone = true;
        }
        if (upRan && !upDone) {
            // After the server's own end a refused upload is not the path's.
            if (tidy || down.endedByServer)
                up.endedByServer = true;
            else
                up.reset = true;
            upDone = true;
        }
    }

    void loop() {
        std::string plain;
        while (open && !(downDone && (!upRan || upDone))) {
            const auto now = clockNow();
            if (!downDone)
                stepDown(now);
            if (upRan && !upDone)
                stepUp(now);
            if (downDone && (!upRan || upDone))
                break;
            // Short waits while acknowledgements are watched, else up to the
            // nearest stall.
            int64_t wait = msBetween(now, deadline);
            if (!downDone)
                wait = std::min<int64_t>(wait, req.stallMs - msBetween(downMove, now));
            if (upRan && !upDone)
                wait = std::min<int64_t>(wait, byAcks ? kAckPollMs
                                                      : req.stallMs - msBetween(upMove, now));
            plain.clear();
            const Pull r = pull(s, plain, static_cast<int32_t>(std::max<int64_t>(1, wait)));
            if (!plain.empty())
                reader.feed(plain);
            if (r == Pull::Data)
                downMove = clockNow();
            else if (r == Pull::Closed || r == Pull::Broken)
                ended(r);
        }
    }

    XferDirection downFinding() {
        XferDirection d;
        down.progress = reader.bytesIn();
        down.kbps = downRate.kbps(reader.bytesIn(), downMove);
        d.state = classifyDirection(down);
        d.bytes = static_cast<int64_t>(s.rawIn);
        d.ms = static_cast<int32_t>(msBetween(start, downMove));
        d.kbps = down.kbps;
        d.detail = std::to_string(reader.bytesIn()) + " B in " +
                   std::to_string(reader.responses()) + "/" + std::to_string(asked) + " answers";
        return d;
    }

    XferDirection upFinding() {
        XferDirection d;
        if (byAcks) {
            up.progress = upProgress;
            up.kbps = upRate.kbps(upProgress, upMove);
            uint64_t acked = acked0;
            tcpBytesAcked(s.socket, acked);
            d.bytes = static_cast<int64_t>(acked);
        } else {
            // Only the answer tells: a stall after an HTTP server has answered
            // before is taken as the path's, with the bytes not known.
            up.progress = up.stalled && req.download ? kXferMinProgress : upProgress;
            up.kbps = up.reachedVolume ? kbitPerSecond(upSent, msBetween(start, upMove)) : -1;
        }
        d.state = classifyDirection(up);
        d.ms = static_cast<int32_t>(msBetween(start, upMove));
        d.kbps = up.kbps;
        d.detail = byAcks
                       ? std::to_string(upProgress) + " of " + std::to_string(upSent) + " B acked"
                       : "acknowledgements not available; judged by the answer";
        return d;
    }
};

} // namespace

XferFinding runTransfer(TlsSession& s, const XferRequest& request) {
    XferFinding f;
    if (!s.backend)
        return f;
    Transfer t(s, request);
    t.reader.feed(s.plainIn);
    s.plainIn.clear();
    if (!request.download) {
        t.downDone = true; // no HTTP answer: nothing to download
        f.down.detail = "no HTTP answer";
    } else {
        // The first answer's head says whether the server keeps the
        // connection; a server that closes after it gets nothing more.
        std::string plain;
        while (t.reader.firstStatus() == 0 && !t.reader.malformed()) {
            const auto now = clockNow();
            const int64_t quiet = msBetween(t.downMove, now);
            if (quiet >= request.stallMs)
                break;
            plain.clear();
            const Pull r = pull(s, plain, static_cast<int32_t>(request.stallMs - quiet));
            t.reader.feed(plain);
            if (r == Pull::Data)
                t.downMove = clockNow();
            else if (r != Pull::Quiet) {
                t.ended(r);
                break;
            }
        }
        int err = 0;
        if (t.open && t.asked == 1 && !t.reader.closeAnnounced() && !t.askMore(err) && err != 0)
            t.ended(Pull::Broken);
    }
    if (t.open && !t.reader.closeAnnounced())
        t.sendUpload();
    else if (t.reader.closeAnnounced())
        f.up.detail = "the server closes after one answer";
    t.loop();
    if (request.download)
        f.down = t.downFinding();
    if (t.upRan)
        f.up = t.upFinding();
    f.upByAcks = !t.upRan || t.byAcks;
    f.state = combineDirections(f.down.state, f.up.state);
    return f;
}

} // namespace tv
