#include "support/network_namespace.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace tillwire {

namespace {

const char kRemoteHardwareAddress[] = "02:00:00:00:11:02";

}  // namespace

NetworkNamespace::NetworkNamespace(const std::string& name, int subnet) {
  const std::string id = std::to_string(getpid() % 100000);
  this->name = name + id;
  localLink = name + "h" + id;
  remoteLink = name + "n" + id;
  prefix = "10." + std::to_string(subnet) + "." + std::to_string(getpid() % 250) + ".";
  setUp = "ip netns add " + this->name + " && " + LinkCommand();
  ready = std::system(setUp.c_str()) == 0;
}

// Deleting this machine's end first removes the pair, its route and its
// neighbour entry at once; removing the namespace takes the rest.
// A removal that fails leaves nothing a destructor could mend.
NetworkNamespace::~NetworkNamespace() {
  const std::string removal =
      "ip link del " + localLink + " 2>/dev/null; ip netns del " + name + " 2>/dev/null";
  if (std::system(removal.c_str()) != 0) return;
}

// The namespace's end is made inside the namespace, so that a pair is never
// left half on this machine. The namespace's end is pinned in this machine's
// neighbour table so that it is never found unreachable (which would send
// "host unreachable" to this machine's own connections): with the link down,
// packets vanish without a word, as at a host without power.
std::string NetworkNamespace::LinkCommand() const {
  return "ip link add " + localLink + " type veth peer name " + remoteLink + " address " +
         kRemoteHardwareAddress + " netns " + name + " && ip addr add " + prefix + "1/24 dev " +
         localLink + " && ip link set " + localLink + " up && ip neigh replace " + prefix +
         "2 lladdr " + kRemoteHardwareAddress + " dev " + localLink +
         " nud permanent && ip netns exec " + name + " ip addr add " + prefix + "2/24 dev " +
         remoteLink + " && ip netns exec " + name + " ip link set " + remoteLink + " up";
}

boost::asio::ip::address_v4 NetworkNamespace::LocalAddress() const {
  return boost::asio::ip::make_address_v4(prefix + "1");
}

boost::asio::ip::address_v4 NetworkNamespace::RemoteAddress() const {
  return boost::asio::ip::make_address_v4(prefix + "2");
}

int NetworkNamespace::Run(const std::string& command) const {
  return std::system(("ip netns exec " + name + " " + command).c_str());
}

// A socket belongs to the namespace of the thread that made it, for good:
// a short-lived thread joins the namespace and makes it.
int NetworkNamespace::OpenSocket() const {
  if (!ready) throw std::runtime_error("network namespace not set up: " + setUp);
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
  if (Run("ip link set " + remoteLink + (up ? " up" : " down")) != 0) {
    throw std::runtime_error("cannot set " + remoteLink + (up ? " up" : " down"));
  }
}

bool NetworkNamespace::RemoveLink() const {
  return std::system(("ip link del " + localLink).c_str()) == 0;
}

bool NetworkNamespace::CreateLink() const { return std::system(LinkCommand().c_str()) == 0; }

}  // namespace tillwire
