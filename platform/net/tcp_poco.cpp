#include "platform/net/tcp.h"

#include <sys/socket.h>

#include <Poco/Exception.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/StreamSocket.h>

#include <atomic>

namespace orv::net {

struct TcpConnection::Impl {
    Poco::Net::StreamSocket socket;
    std::atomic<bool> interrupted{false};
};

TcpConnection::TcpConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TcpConnection::~TcpConnection() {
    try {
        impl_->socket.close();
    } catch (const Poco::Exception&) {
    }
}

std::unique_ptr<TcpConnection> TcpConnection::Connect(const std::string& host, std::uint16_t port,
                                                      std::string* error, int timeoutMs) {
    try {
        auto impl = std::make_unique<Impl>();
        const Poco::Net::SocketAddress address(host, port);
        if (timeoutMs > 0)
            impl->socket.connect(address,
                                 Poco::Timespan(Poco::Timespan::TimeDiff{timeoutMs} * 1000));
        else
            impl->socket.connect(address);
        impl->socket.setNoDelay(true);
        return std::unique_ptr<TcpConnection>(new TcpConnection(std::move(impl)));
    } catch (const Poco::Exception& e) {
        if (error) *error = e.displayText();
        return nullptr;
    }
}

long TcpConnection::Receive(bytes::MutBytes buffer) {
    if (impl_->interrupted) return 0;
    try {
        const int n = impl_->socket.receiveBytes(buffer.data(), static_cast<int>(buffer.size()));
        return impl_->interrupted ? 0 : n;
    } catch (const Poco::Exception&) {
        return impl_->interrupted ? 0 : -1;
    }
}

bool TcpConnection::WaitReadable(int timeoutMs) {
    try {
        return impl_->socket.poll(Poco::Timespan(Poco::Timespan::TimeDiff{timeoutMs} * 1000),
                                  Poco::Net::Socket::SELECT_READ | Poco::Net::Socket::SELECT_ERROR);
    } catch (const Poco::Exception&) {
        return true;
    }
}

bool TcpConnection::Send(bytes::ConstBytes data) {
    try {
        std::size_t sent = 0;
        while (sent < data.size()) {
            // MSG_NOSIGNAL: a peer that went away fails the send, it does
            // not kill the process.
            const int n = impl_->socket.sendBytes(
                data.data() + sent, static_cast<int>(data.size() - sent), MSG_NOSIGNAL);
            if (n <= 0) return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    } catch (const Poco::Exception&) {
        return false;
    }
}

void TcpConnection::Interrupt() {
    impl_->interrupted = true;
    // Shutting the socket down wakes a receive blocked on it; the descriptor
    // stays open until the owner destroys the connection.
    ::shutdown(impl_->socket.impl()->sockfd(), SHUT_RDWR);
}

std::string TcpConnection::Peer() const {
    try {
        return impl_->socket.peerAddress().toString();
    } catch (const Poco::Exception&) {
        return "?";
    }
}

struct TcpListener::Impl {
    Poco::Net::ServerSocket socket;
    std::atomic<bool> stopped{false};
};

TcpListener::TcpListener(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TcpListener::~TcpListener() {
    try {
        impl_->socket.close();
    } catch (const Poco::Exception&) {
    }
}

std::unique_ptr<TcpListener> TcpListener::Listen(std::uint16_t port, bool allInterfaces,
                                                 std::string* error) {
    try {
        auto impl = std::make_unique<Impl>();
        const Poco::Net::IPAddress host =
            allInterfaces ? Poco::Net::IPAddress() : Poco::Net::IPAddress("127.0.0.1");
        // Address reuse lets a restarted service listen again at once; port
        // reuse would let two listeners share the port, so it stays off.
        impl->socket.bind(Poco::Net::SocketAddress(host, port), true, false);
        impl->socket.listen(SOMAXCONN);
        return std::unique_ptr<TcpListener>(new TcpListener(std::move(impl)));
    } catch (const Poco::Exception& e) {
        if (error) *error = e.displayText();
        return nullptr;
    }
}

std::unique_ptr<TcpConnection> TcpListener::Accept() {
    if (impl_->stopped) return nullptr;
    try {
        auto impl = std::make_unique<TcpConnection::Impl>();
        impl->socket = impl_->socket.acceptConnection();
        if (impl_->stopped) return nullptr;
        impl->socket.setNoDelay(true);
        return std::unique_ptr<TcpConnection>(new TcpConnection(std::move(impl)));
    } catch (const Poco::Exception&) {
        return nullptr;
    }
}

void TcpListener::Stop() {
    impl_->stopped = true;
    // On Linux shutting a listening socket down wakes a blocked accept.
    ::shutdown(impl_->socket.impl()->sockfd(), SHUT_RDWR);
}

std::uint16_t TcpListener::Port() const {
    try {
        return impl_->socket.address().port();
    } catch (const Poco::Exception&) {
        return 0;
    }
}

}  // namespace orv::net
