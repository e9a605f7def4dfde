#include "web/server.h"

#include <civetweb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "web/catalogue_json.h"
#include "web/contract.h"

namespace vxweb {
namespace {

constexpr const char* SERVER_THREADS = "16";

WebGoggles& of(void* web) {
    return *static_cast<WebGoggles*>(web);
}

// A body sent whole and never cached: each of these answers is the board's state now.
int send_fresh(mg_connection* conn, const char* type, const std::string& body,
               const std::string& extra_headers = "") {
    mg_printf(conn,
              "HTTP/1.1 200 OK\r\nContent-Type: %s\r\n%sContent-Length: %zu\r\n"
              "Cache-Control: no-store\r\nConnection: close\r\n\r\n",
              type, extra_headers.c_str(), body.size());
    mg_write(conn, body.data(), body.size());
    return 200;
}

int not_there(mg_connection* conn, int status, const char* why) {
    mg_send_http_error(conn, status, "%s", why);
    return status;
}

// A page of some other site open in the same browser must not drive the board.
int ws_connect(const mg_connection* conn, void* web) {
    const char* origin = mg_get_header(conn, "Origin");
    if (origin == nullptr) return 0;
    const std::string o = origin, p = std::to_string(of(web).port());
    return o == "http://127.0.0.1:" + p || o == "http://localhost:" + p ? 0 : 1;
}

void ws_ready(mg_connection* conn, void* web) {
    of(web).connected(conn);
}

int ws_data(mg_connection* conn, int bits, char* data, size_t len, void* web) {
    const int opcode = bits & 0x0F;
    if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE) return 0;
    if (opcode == MG_WEBSOCKET_OPCODE_TEXT) of(web).message(conn, std::string(data, len));
    return 1;
}

void ws_close(const mg_connection* conn, void* web) {
    of(web).closed(conn);
}

// The page goes to the tabs over their WebSocket; this is for anything else that wants a
// look (curl, a script).
int frame_handler(mg_connection* conn, void* web) {
    const mg_request_info* ri = mg_get_request_info(conn);
    const bool full = ri->query_string != nullptr && std::strstr(ri->query_string, "full=1");
    const std::string png = of(web).page_png(full);
    return png.empty() ? not_there(conn, 503, "no frame yet") : send_fresh(conn, "image/png", png);
}

int recording_handler(mg_connection* conn, void* web) {
    const vxscenario::Recorder& r = of(web).recorder();
    const std::string body = r.text(), file = r.file_name();
    if (body.empty()) return not_there(conn, 404, "nothing recorded yet");
    return send_fresh(conn, "text/plain; charset=utf-8", body,
                      "Content-Disposition: attachment; filename=\"" + file + "\"\r\n");
}

int catalogue_handler(mg_connection* conn, void* web) {
    return send_fresh(conn, "application/json", catalogue_json(of(web).apps_dir()));
}

int contract_handler(mg_connection* conn, void*) {
    static const std::string contract = contract_json();
    return send_fresh(conn, "application/json", contract);
}

int log_message(const mg_connection*, const char* message) {
    std::fprintf(stderr, "vx-web: %s\n", message);
    return 1;
}

// Whether another program listens on the port already: the usual reason the server cannot
// start, and one a person can do something about.
bool port_taken(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool taken =
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno == EADDRINUSE;
    close(fd);
    return taken;
}

void handle(mg_context* ctx, WebGoggles& web) {
    mg_set_request_handler(ctx, "/frame.png", frame_handler, &web);
    mg_set_request_handler(ctx, "/catalogue.json", catalogue_handler, &web);
    mg_set_request_handler(ctx, "/recording.scn", recording_handler, &web);
    mg_set_request_handler(ctx, "/contract.json", contract_handler, &web);
    mg_set_websocket_handler(ctx, "/ws", ws_connect, ws_ready, ws_data, ws_close, &web);
}

} // namespace

mg_context* serve(WebGoggles& web, long& port) {
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    const char* options[] = {"listening_ports",
                             listen.c_str(),
                             "document_root",
                             VX_WEB_ROOT,
                             "enable_directory_listing",
                             "no",
                             "access_control_list",
                             "-0.0.0.0/0,+127.0.0.1",
                             "num_threads",
                             SERVER_THREADS,
                             nullptr};
    mg_callbacks callbacks{};
    callbacks.log_message = log_message;
    mg_context* ctx = mg_start(&callbacks, nullptr, options);
    if (ctx == nullptr) {
        if (port != 0 && port_taken(static_cast<int>(port)))
            std::fprintf(stderr,
                         "vx-web: port %ld is taken (another vx-web?): try --port %ld, or --port 0"
                         " for any free one\n",
                         port, port + 1);
        else
            std::fprintf(stderr, "vx-web: cannot serve on %s\n", listen.c_str());
        return nullptr;
    }
    mg_server_port ports[1]{};
    if (mg_get_server_ports(ctx, 1, ports) == 1) port = ports[0].port;
    web.set_port(static_cast<int>(port));
    handle(ctx, web);
    return ctx;
}

} // namespace vxweb
