// A host of its own for live tests (Linux, root): a network namespace joined
// to this machine by a veth pair. The constructor creates both and the
// destructor removes them with everything in them; the constructor does not
// throw, Ready() says whether the set-up succeeded. Every name carries this
// process's id, and each caller passes a subnet of its own, so tests running
// side by side never share a name or an address.
//
//   NetworkNamespace nvrHost("tw11r", 211);
//   ASSERT_TRUE(nvrHost.Ready()) << nvrHost.SetUpCommand();
//   NvrClient nvr(eventQueue, nvrHost.OpenSocket(), {nvrHost.LocalAddress(), port});
//   nvrHost.SetLinkUp(false);  // the host drops off the network without a word
#ifndef TILLWIRE_TESTS_SUPPORT_NETWORK_NAMESPACE_H
#define TILLWIRE_TESTS_SUPPORT_NETWORK_NAMESPACE_H

#include <boost/asio/ip/address_v4.hpp>

#include <string>

namespace tillwire {

class NetworkNamespace {
 public:
  // The namespace is called name plus this process's id, and the ends of the
  // pair name+"h"+id (this machine's) and name+"n"+id (the namespace's): keep
  // name to 9 characters at most, as interface names have 15 at most. The pair
  // is on 10.subnet.P.0/24, with P taken from the process id: this machine's
  // end is .1, the namespace's end .2; both ends are up.
  NetworkNamespace(const std::string& name, int subnet);
  ~NetworkNamespace();
  NetworkNamespace(const NetworkNamespace&) = delete;
  NetworkNamespace& operator=(const NetworkNamespace&) = delete;

  // Whether the set-up succeeded, and its commands (for a failure message).
  bool Ready() const { return ready; }
  const std::string& SetUpCommand() const { return setUp; }

  // The namespace's name (its file is /var/run/netns/Name()), and the
  // interface names of this machine's end of the pair and of the namespace's.
  const std::string& Name() const { return name; }
  const std::string& LocalLink() const { return localLink; }
  const std::string& RemoteLink() const { return remoteLink; }

  // This machine's address on the veth pair, and the namespace's.
  boost::asio::ip::address_v4 LocalAddress() const;
  boost::asio::ip::address_v4 RemoteAddress() const;

  // Runs a shell command inside the namespace; returns std::system's result.
  int Run(const std::string& command) const;

  // A new, unconnected TCP socket that lives in the namespace; the caller owns
  // it. Throws std::runtime_error when there is none (or the set-up failed).
  int OpenSocket() const;

  // Takes the namespace's end of the pair down or up again. While it is down,
  // nothing goes in or out and nothing answers: no FIN or RST leaves the
  // namespace, and no "unreachable" comes back. Throws std::runtime_error
  // when the command fails.
  void SetLinkUp(bool up) const;

  // Deletes the pair, as when an adapter is unplugged, and creates it again
  // as the constructor did (same names and addresses, both ends up); each
  // returns whether it succeeded.
  bool RemoveLink() const;
  bool CreateLink() const;

 private:
  std::string LinkCommand() const;

  std::string name;
  std::string localLink;
  std::string remoteLink;
  std::string prefix;  // "10.subnet.P."
  std::string setUp;
  bool ready = false;
};

}  // namespace tillwire

#endif
