// The second peer: a single-threaded WebSocket server on Boost.Beast (one io_context, asynchronous reads
// and writes) answering the same commands with the same JSON texts as the Qt peer.
//
//   bench_service_beast_peer PORT

#include "PeerAnswer.h"

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

class PeerSession : public std::enable_shared_from_this<PeerSession>
{
public:
    explicit PeerSession(tcp::socket socket)
        : m_socket(std::move(socket))
        , m_id(QUuid::createUuid().toString(QUuid::WithBraces))
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
            const QByteArray reply = peerAnswer(
                QByteArray::fromRawData(static_cast<const char *>(bytes.data()), int(bytes.size())), self->m_id);
            self->m_in.consume(self->m_in.size());
            if (!reply.isEmpty())
                self->send(reply);
            self->read();
        });
    }

    void send(const QByteArray &reply)
    {
        m_out.push_back(reply);
        if (m_out.size() == 1)
            writeFront();
    }

    void writeFront()
    {
        m_socket.text(true);
        m_socket.async_write(asio::buffer(m_out.front().constData(), std::size_t(m_out.front().size())),
            [self = shared_from_this()](beast::error_code error, std::size_t) {
                if (error)
                    return;
                self->m_out.pop_front();
                if (!self->m_out.empty())
                    self->writeFront();
            });
    }

    websocket::stream<tcp::socket> m_socket;
    beast::flat_buffer m_in;
    std::deque<QByteArray> m_out;
    QString m_id;
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
