#include "support/veth_namespace.h"

#include <unistd.h>

#include <cstdlib>

namespace {

std::string Id() { return std::to_string(getpid() % 100000); }

}  // namespace

VethNamespace::VethNamespace(const std::string& tag)
    : ns("tw" + tag + Id()),
      localName("tw" + tag + Id() + "a"),
      remoteName("tw" + tag + Id() + "b"),
      subnet("10.201." + std::to_string(getpid() % 250) + "."),
      localAddress(subnet + "1"),
      remoteAddress(subnet + "2") {
  setUp = "ip netns add " + ns + " && ip link add " + localName + " type veth peer name " +
          remoteName + " && ip link set " + remoteName + " netns " + ns + " && ip addr add " +
          localAddress + "/24 dev " + localName + " && ip link set " + localName +
          " up && ip netns exec " + ns + " ip addr add " + remoteAddress + "/24 dev " +
          remoteName + " && ip netns exec " + ns + " ip link set " + remoteName + " up";
  ready = std::system(setUp.c_str()) == 0;
}

VethNamespace::~VethNamespace() {
  // Removing the namespace removes its end of the pair, and so the pair.
  std::system(("ip netns del " + ns + " 2>/dev/null; ip link del " + localName + " 2>/dev/null")
                  .c_str());
}

int VethNamespace::Run(const std::string& command) const {
  return std::system(("ip netns exec " + ns + " " + command).c_str());
}
