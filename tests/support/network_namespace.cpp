#include "support/network_namespace.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {

const char kRemoteHardwareAddress[] = "02:00:00:00:11:02";

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("failed: " + command);
}

}  // namespace

NetworkNamespace::NetworkNamespace(const std::string& name, int subnet) {
  const std::string id = std::to_string(getpid() % 100000);
  this->name = name + id;
  const std::string localLink = name + "h" + id;
  remoteLink = name + "n" + id;
  prefix = "10." + std::to_string(subnet) + "." + std::to_string(getpid() % 250) + ".";
  Run("ip netns add " + this->name);
  try {
    Run("ip link add " + localLink + " type veth peer name " + remoteLink + " address " +
        kRemoteHardwareAddress + " netns " + this->name);
    Run("ip addr add " + prefix + "1/24 dev " + localLink + " && ip link set " + localLink +
        " up");
    // Pinned, so that this machine never finds the namespace's end unreachable
    // (which would send "host unreachable" to its own connections): with the
    // link down, packets vanish without a word, as at a host without power.
    Run("ip neigh replace " + prefix + "2 lladdr " + kRemoteHardwareAddress + " dev " +
        localLink + " nud permanent");
    Run("ip netns exec " + this->name + " ip addr add " + prefix + "2/24 dev " + remoteLink);
    SetLinkUp(true);
  } catch (...) {
    std::system(("ip netns del " + this->name + " 2>/dev/null").c_str());
    throw;
  }
}

// Removing the namespace removes its end of the pair, and with it this end.
NetworkNamespace::~NetworkNamespace() {
  std::system(("ip netns del " + name + " 2>/dev/null").c_str());
}

boost::asio::ip::address_v4 NetworkNamespace::LocalAddress() const {
  return boost::asio::ip::make_address_v4(prefix + "1");
}

boost::asio::ip::address_v4 NetworkNamespace::RemoteAddress() const {
  return boost::asio::ip::make_address_v4(prefix + "2");
}

// A socket belongs to the namespace of the thread that made it, for good:
// a short-lived thread joins the namespace and makes it.
int NetworkNamespace::OpenSocket() const {
  int result = -1;
  std::thread([this, &result] {
    const int space = open(("/var/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    if (space < 0) return;
    if (setns(space, CLONE_NEWNET) == 0) result = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    close(space);
  }).join();
  if (result < 0) throw std::runtime_error("no socket in network namespace " + name);
  return result;
}

void NetworkNamespace::SetLinkUp(bool up) const {
  Run("ip netns exec " + name + " ip link set " + remoteLink + (up ? " up" : " down"));
}
