// The second peer: a single-threaded WebSocket server on Boost.Beast (one io_context, asynchronous reads
// and writes) answering the same commands with the same JSON texts as the Qt peer, as fast as Beast
// allows: each message is validated by a scanner that builds no document (RequestScan), the answer is
// written into a buffer the session reuses, and the read buffer is kept between messages.
//
//   bench_service_beast_peer PORT

#include "RequestScan.h"

#include <QUuid>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

// As large as the service accepts, so that the 16 MiB message row compares like with like.
constexpr std::size_t kMaxMessage = 64 * 1024 * 1024;

// The answer to one request, appended to out; false when the request gets none (not a JSON object, or a
// command the peer does not know). The "uuid" and "sequence" tokens are echoed as the page wrote them:
// valid JSON strings with the same values.
bool appendAnswer(std::string_view request, const std::string &connectionId, std::string &out)
{
    RequestScan::Envelope envelope;
    if (!RequestScan::scan(request, &envelope))
        return false;
    std::string_view cmd = envelope.cmd.size() >= 2 ? envelope.cmd.substr(1, envelope.cmd.size() - 2) : "";
    std::string decodedCmd;
    if (cmd.find('\\') != std::string_view::npos)
        cmd = decodedCmd = RequestScan::decoded(envelope.cmd);
    if (cmd == "system.webconnect") {
        out += R"({"errorCode":0,"errorModule":0,"uuid":")";
        out += connectionId;
        out += R"(","version":"1.0"})";
        return true;
    }
    // The module word before the first dot, the command word up to the second.
    const size_t dot = cmd.find('.');
    if (dot == std::string_view::npos || cmd.substr(0, dot) != "window")
        return false;
    const std::string_view rest = cmd.substr(dot + 1);
    if (rest.substr(0, rest.find('.')) != "getLocalServiceVersion")
        return false;
    out += R"({"errorCode":0,"errorModule":0,"localServiceVersion":"1.0.0.40","sequence":)";
    out += envelope.sequence.empty() ? std::string_view("\"\"") : envelope.sequence;
    out += R"(,"uuid":)";
    out += envelope.uuid.empty() ? std::string_view("\"\"") : envelope.uuid;
    out += '}';
    return true;
}

class PeerSession : public std::enable_shared_from_this<PeerSession>
{
public:
    explicit PeerSession(tcp::socket socket)
        : m_socket(std::move(socket))
        , m_id(QUuid::createUuid().toString(QUuid::WithBraces).toStdString())
    {
    }

    void start()
    {
        m_socket.read_message_max(kMaxMessage);
        m_socket.async_accept([self = shared_from_this()](beast::error_code error) {
            if (!error)
                self->read();
        });
    }

private:
    void read()
    {
        m_socket.async_read(m_in, [self = shared_from_this()](beast::error_code error, std::size_t) {
            if (error)
                return;
            const auto bytes = self->m_in.cdata();
            const std::string_view request(static_cast<const char *>(bytes.data()), bytes.size());
            // Answers queue up behind a write in progress and leave together in the next one.
            std::string &pending = self->m_writing ? self->m_next : self->m_reply;
            const size_t before = pending.size();
            if (appendAnswer(request, self->m_id, pending))
                self->m_frames.push_back(pending.size() - before);
            // consume() keeps the buffer's storage for the next message.
            self->m_in.consume(self->m_in.size());
            if (!self->m_writing && !self->m_frames.empty())
                self->writeAll();
            self->read();
        });
    }

    // Each answer is its own text message; m_frames holds their sizes in m_reply.
    void writeAll()
    {
        m_writing = true;
        m_socket.text(true);
        const size_t size = m_frames.front();
        m_socket.async_write(asio::buffer(m_reply.data() + m_written, size),
            [self = shared_from_this(), size](beast::error_code error, std::size_t) {
                if (error)
                    return;
                self->m_frames.pop_front();
                self->m_written += size;
                if (self->m_frames.empty() || self->m_written == self->m_reply.size()) {
                    // Everything of m_reply is out: what queued meanwhile is next, both buffers kept.
                    self->m_reply.clear();
                    self->m_reply.swap(self->m_next);
                    self->m_written = 0;
                }
                if (self->m_frames.empty()) {
                    self->m_writing = false;
                    return;
                }
                self->writeAll();
            });
    }

    websocket::stream<tcp::socket> m_socket;
    beast::flat_buffer m_in;
    std::string m_reply; // answers being written, back to back
    std::string m_next; // answers found while a write is in progress
    std::deque<size_t> m_frames; // sizes of the answers not yet written, m_reply's first
    size_t m_written = 0; // bytes of m_reply written
    bool m_writing = false;
    std::string m_id;
};

void acceptNext(tcp::acceptor &acceptor)
{
    acceptor.async_accept([&acceptor](beast::error_code error, tcp::socket socket) {
        if (!error) {
            socket.set_option(tcp::no_delay(true));
            std::make_shared<PeerSession>(std::move(socket))->start();
        }
        acceptNext(acceptor);
    });
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2)
        return 2;
    asio::io_context io(1);
    tcp::acceptor acceptor(io);
    const tcp::endpoint endpoint(tcp::v4(), static_cast<unsigned short>(std::atoi(argv[1])));
    beast::error_code error;
    acceptor.open(endpoint.protocol(), error);
    acceptor.set_option(asio::socket_base::reuse_address(true), error);
    acceptor.bind(endpoint, error);
    if (error)
        return 1;
    acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error)
        return 1;
    acceptNext(acceptor);
    std::printf("listening\n");
    std::fflush(stdout);
    io.run();
    return 0;
}
