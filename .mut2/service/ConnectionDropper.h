// Cuts the connection a request arrived on, before any answer is written,
// for the "drop" and "reset" faults. The server library does not expose the
// socket to handlers, so it is found among the process's descriptors by its
// two ports, and a descriptor of /dev/null is put in its place: the server
// library then writes its answer into nothing and closes that.
#pragma once

namespace palvero::service {

enum class CutMode {
  kClose,  // orderly shutdown: the client reads end-of-stream
  kReset,  // abortive close: the client sees a connection reset
};

// Cuts the connection whose local port is `localPort` and peer port
// `remotePort`. False when no such socket was found.
bool cutConnection(int localPort, int remotePort, CutMode mode);

}  // namespace palvero::service
