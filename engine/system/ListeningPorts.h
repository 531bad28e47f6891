// The ports something on this machine listens on: a local proxy that nothing answers on any more
// is a dead one.
#pragma once
#include <set>

// The TCP ports (IPv4 and IPv6) something listens on, as Windows' table tells them now.
std::set<unsigned> ListeningPorts();
