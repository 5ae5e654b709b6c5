#pragma once

#include <stdexcept>
#include <string>

namespace orvalis::proxy {

// Every failure of the proxy's network layers.
class ENetException : public std::runtime_error {
public:
    explicit ENetException(const std::string& message) : std::runtime_error(message) {}
};

// A platform socket call failed; Code() is the mapped error number.
class ESocketError : public ENetException {
public:
    ESocketError(int code, const std::string& message) : ENetException(message), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

class ENotASocket : public ESocketError {
public:
    using ESocketError::ESocketError;
};

// Declares an exception class whose default message is fixed.
#define ORVALIS_NET_EXCEPTION(Name, Base, Message)                                                 \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        Name() : Base(Message) {}                                                                  \
        explicit Name(const std::string& message) : Base(message) {}                               \
    };

// Ends a step silently: nobody reports it.
ORVALIS_NET_EXCEPTION(EAbort, ENetException, "Operation aborted")
ORVALIS_NET_EXCEPTION(EConnClosedGracefully, ENetException, "Connection Closed Gracefully.")
ORVALIS_NET_EXCEPTION(ENotConnected, ENetException, "Not Connected")
ORVALIS_NET_EXCEPTION(EClosedSocket, ENetException, "Disconnected.")
ORVALIS_NET_EXCEPTION(EReadTimeout, ENetException, "Read timed out.")
ORVALIS_NET_EXCEPTION(EReadLnMaxLineLengthExceeded, ENetException, "Max line length exceeded.")
ORVALIS_NET_EXCEPTION(EMaxCaptureLineExceeded, ENetException,
                      "Maximum number of line allowed exceeded")
ORVALIS_NET_EXCEPTION(ENoDataToRead, ENetException, "No data to read.")
ORVALIS_NET_EXCEPTION(EIOHandlerRequiresLargeStream, ENetException, "")
ORVALIS_NET_EXCEPTION(ETooMuchDataInBuffer, ENetException, "Too much data in buffer.")
ORVALIS_NET_EXCEPTION(ENotEnoughDataInBuffer, ENetException, "Not enough data in buffer.")
ORVALIS_NET_EXCEPTION(EAlreadyConnected, ENetException, "Already connected.")
ORVALIS_NET_EXCEPTION(EHostRequired, ENetException, "")
ORVALIS_NET_EXCEPTION(EPortRequired, ENetException, "")
ORVALIS_NET_EXCEPTION(EConnectTimeout, ENetException, "Connect timed out.")
ORVALIS_NET_EXCEPTION(EConnectException, ENetException, "")
ORVALIS_NET_EXCEPTION(ECouldNotBindSocket, ENetException,
                      "Could not bind socket. Address and port are already in use.")
ORVALIS_NET_EXCEPTION(EInvalidPortRange, ENetException, "Invalid Port Range")
ORVALIS_NET_EXCEPTION(ECanNotBindPortInRange, ENetException, "Can not bind in port range")
ORVALIS_NET_EXCEPTION(ETCPNoOnExecute, ENetException, "You must have an OnExecute event.")
ORVALIS_NET_EXCEPTION(ESchedulerMaxThreadsExceeded, ENetException,
                      "The maximum number of threads for this scheduler is exceeded.")
ORVALIS_NET_EXCEPTION(ECannotSetIPVersionWhenConnected, ENetException,
                      "Cannot change IPVersion when connected")
ORVALIS_NET_EXCEPTION(EIPVersionUnsupported, ENetException,
                      "The requested IPVersion / Address family is not supported.")

#undef ORVALIS_NET_EXCEPTION

} // namespace orvalis::proxy
