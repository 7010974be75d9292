// Throughput of the HTTP request tokenizer on typical requests of the service, against Boost.Beast's
// request parser (basic_parser with no-op callbacks) on the same bytes in the same run.
#include "transport/RequestParser.h"

#include <benchmark/benchmark.h>
#include <boost/asio/buffer.hpp>
#include <boost/beast/http/basic_parser.hpp>

#include <QByteArray>

#include <limits>
#include <string>
#include <vector>

namespace {

// A GET of the image channel: the command travels in a long query.
std::string imageChannelGet()
{
    std::string data;
    for (int i = 0; i < 24; ++i)
        data += "eNqrVkrOTFGyUlAqSS0uUSjOLy0pSE1RqAUAaAkIxA";
    return "GET /?data=" + data
        + "&sequence=17&isLast=1&sessionID=%7B1f0e3dad-9990-4d4e-8e0b-0f1a2b3c4d5e%7D&random=0.8364915627 "
          "HTTP/1.1\r\n"
          "Host: 127.0.0.1:33686\r\n"
          "Connection: keep-alive\r\n"
          "User-Agent: Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) "
          "Chrome/120.0.0.0 Safari/537.36\r\n"
          "Accept: image/avif,image/webp,image/apng,image/svg+xml,image/*,*/*;q=0.8\r\n"
          "Referer: http://127.0.0.1:8080/index.html\r\n"
          "Accept-Encoding: gzip, deflate, br\r\n"
          "Accept-Language: en-US,en;q=0.9\r\n\r\n";
}

// A command posted as JSON.
std::string postJson()
{
    const std::string body = R"({"cmd":"video.startPlay","uuid":"{1f0e3dad-9990-4d4e-8e0b-0f1a2b3c4d5e}",)"
                             R"("sequence":42,"url":"rtsp://192.168.1.64:554/Streaming/Channels/101",)"
                             R"("wndIndex":0,"streamType":1,"user":"admin","password":"secret"})";
    return "POST / HTTP/1.1\r\n"
           "Host: 127.0.0.1:33686\r\n"
           "Connection: keep-alive\r\n"
           "Content-Length: "
        + std::to_string(body.size())
        + "\r\n"
          "Content-Type: text/plain;charset=UTF-8\r\n"
          "Origin: http://127.0.0.1:8080\r\n"
          "Accept: */*\r\n"
          "User-Agent: Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
          "Chrome/120.0.0.0 Safari/537.36\r\n\r\n"
        + body;
}

// A chunked POST: a few chunks of a larger body.
std::string chunkedPost()
{
    std::string message = "POST /upload HTTP/1.1\r\n"
                          "Host: 127.0.0.1:33686\r\n"
                          "Transfer-Encoding: chunked\r\n"
                          "Content-Type: application/octet-stream\r\n\r\n";
    for (int i = 0; i < 4; ++i)
        message += "400\r\n" + std::string(1024, char('a' + i)) + "\r\n";
    return message + "0\r\n\r\n";
}

std::vector<std::string> corpus()
{
    return {imageChannelGet(), postJson(), chunkedPost()};
}

// Tokenizes one whole message and touches every value, as the request reader would before copying it.
size_t tokenize(const std::string &message)
{
    RequestParser parser;
    const char *data = message.data();
    int left = int(message.size());
    size_t valueBytes = 0;
    for (;;) {
        const RequestParser::Token token = parser.next(data, left);
        if (token.kind == RequestParser::TokenKind::NeedMoreData || RequestParser::isError(token.kind))
            std::abort();
        valueBytes += size_t(token.valueSize);
        data += token.consumed;
        left -= token.consumed;
        if (token.kind == RequestParser::TokenKind::EndOfMessage)
            return valueBytes;
    }
}

class NullRequestParser : public boost::beast::http::basic_parser<true>
{
    using string_view = boost::beast::string_view;
    using error_code = boost::beast::error_code;

public:
    size_t valueBytes = 0;

private:
    void on_request_impl(
        boost::beast::http::verb, string_view method, string_view target, int, error_code &) override
    {
        valueBytes += method.size() + target.size();
    }
    void on_response_impl(int, string_view, int, error_code &) override { }
    void on_field_impl(boost::beast::http::field, string_view name, string_view value, error_code &) override
    {
        valueBytes += name.size() + value.size();
    }
    void on_header_impl(error_code &) override { }
    void on_body_init_impl(const boost::optional<std::uint64_t> &, error_code &) override { }
    size_t on_body_impl(string_view body, error_code &) override
    {
        valueBytes += body.size();
        return body.size();
    }
    void on_chunk_header_impl(std::uint64_t, string_view, error_code &) override { }
    size_t on_chunk_body_impl(std::uint64_t, string_view body, error_code &) override
    {
        valueBytes += body.size();
        return body.size();
    }
    void on_finish_impl(error_code &) override { }
};

size_t beastParse(const std::string &message)
{
    NullRequestParser parser;
    parser.eager(true);
    parser.body_limit(std::numeric_limits<std::uint64_t>::max());
    parser.header_limit(std::numeric_limits<std::uint32_t>::max());
    boost::beast::error_code error;
    size_t offset = 0;
    while (!parser.is_done()) {
        offset += parser.put(boost::asio::buffer(message.data() + offset, message.size() - offset), error);
        if (error)
            std::abort();
    }
    return parser.valueBytes;
}

template <size_t (*parse)(const std::string &)> void run(benchmark::State &state)
{
    const std::vector<std::string> messages = corpus();
    const std::string &message = messages.at(size_t(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(parse(message));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(message.size()));
    state.SetItemsProcessed(state.iterations());
}

void ownTokenizer(benchmark::State &state)
{
    run<tokenize>(state);
}

void beastParser(benchmark::State &state)
{
    run<beastParse>(state);
}

// Argument: 0 image-channel GET, 1 JSON POST, 2 chunked POST.
BENCHMARK(ownTokenizer)->DenseRange(0, 2);
BENCHMARK(beastParser)->DenseRange(0, 2);

} // namespace

BENCHMARK_MAIN();
