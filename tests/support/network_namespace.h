// A host of its own for live tests (Linux, root): a network namespace joined
// to this machine by a veth pair, created by the constructor and removed with
// everything in it by the destructor.
//
//   NetworkNamespace nvrHost("tw11r", 211);
//   NvrClient nvr(eventQueue, nvrHost.OpenSocket(), {nvrHost.LocalAddress(), port});
//   nvrHost.SetLinkUp(false);  // the host drops off the network without a word
#ifndef TILLWIRE_TESTS_SUPPORT_NETWORK_NAMESPACE_H
#define TILLWIRE_TESTS_SUPPORT_NETWORK_NAMESPACE_H

#include <boost/asio/ip/address_v4.hpp>

#include <string>

class NetworkNamespace {
 public:
  // The namespace is called name plus this process's id (keep name short and
  // tied to the task: interface names have 15 characters at most); its subnet
  // is 10.subnet.P.0/24, with P taken from the process id: this machine's end
  // is .1, the namespace's end .2. Throws std::runtime_error when it cannot be
  // made.
  NetworkNamespace(const std::string& name, int subnet);
  ~NetworkNamespace();
  NetworkNamespace(const NetworkNamespace&) = delete;
  NetworkNamespace& operator=(const NetworkNamespace&) = delete;

  // This machine's address on the veth pair, and the namespace's.
  boost::asio::ip::address_v4 LocalAddress() const;
  boost::asio::ip::address_v4 RemoteAddress() const;

  // A new, unconnected TCP socket that lives in the namespace; the caller owns it.
  int OpenSocket() const;

  // Takes the namespace's end of the pair down or up again. While it is down,
  // nothing goes in or out and nothing answers: no FIN or RST leaves the
  // namespace, and no "unreachable" comes back.
  void SetLinkUp(bool up) const;

 private:
  std::string name;
  std::string remoteLink;
  std::string prefix;  // "10.subnet.P."
};

#endif
