// A veth pair between this machine and a network namespace of its own, each
// end with an address of a /24 of its own; both removed with the object.
// Needs root.
#ifndef TILLWIRE_TESTS_SUPPORT_VETH_NAMESPACE_H
#define TILLWIRE_TESTS_SUPPORT_VETH_NAMESPACE_H

#include <string>

class VethNamespace {
 public:
  // tag (a few letters) goes into every name, beside the process id.
  explicit VethNamespace(const std::string& tag);
  ~VethNamespace();
  VethNamespace(const VethNamespace&) = delete;
  VethNamespace& operator=(const VethNamespace&) = delete;

  // The set-up command, and whether it succeeded.
  const std::string& SetUpCommand() const { return setUp; }
  bool Ready() const { return ready; }

  // Runs a shell command inside the namespace; returns std::system's result.
  int Run(const std::string& command) const;

  const std::string ns;
  const std::string localName;   // this machine's end
  const std::string remoteName;  // the namespace's end
  const std::string subnet;      // "10.201.N."
  const std::string localAddress;
  const std::string remoteAddress;

 private:
  std::string setUp;
  bool ready;
};

#endif
