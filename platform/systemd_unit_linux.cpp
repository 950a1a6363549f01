#include "platform/systemd_unit.h"

namespace tillwire {

std::string ServiceUnitText(const std::string& description, const std::string& executablePath) {
  return "[Unit]\n"
         "Description=" + UnitValue(description) + "\n"
         "Wants=network-online.target\n"
         "After=network-online.target\n"
         "\n"
         "[Service]\n"
         "Type=notify\n"
         "ExecStart=" + ExecWord(executablePath) + "\n"
         "Restart=on-failure\n"
         "RestartSec=60\n"
         // Its own user, whose only privilege is raw capture; it can gain no
         // other (no set-user-ID programs, no file capabilities).
         "User=" + std::string(kServiceUser) + "\n"
         "AmbientCapabilities=CAP_NET_RAW\n"
         "CapabilityBoundingSet=CAP_NET_RAW\n"
         "NoNewPrivileges=yes\n"
         // It writes its log and nothing else: the log directory is the only
         // writable one, its files readable by the user and its group only;
         // and, where node_exporter reads its textfile directory, the
         // metrics file (Tillwire.xml's Metrics; the user needs write access
         // there; "-": no such directory, no matter).
         "LogsDirectory=tillwire\n"
         "LogsDirectoryMode=0750\n"
         "ReadWritePaths=-/var/lib/prometheus/node-exporter\n"
         "UMask=0027\n"
         "ProtectSystem=strict\n"
         "ProtectHome=yes\n"
         "PrivateTmp=yes\n"
         "PrivateDevices=yes\n"
         "ProtectProc=invisible\n"
         "ProcSubset=pid\n"
         "ProtectKernelTunables=yes\n"
         "ProtectKernelModules=yes\n"
         "ProtectKernelLogs=yes\n"
         "ProtectControlGroups=yes\n"
         "ProtectClock=yes\n"
         "ProtectHostname=yes\n"
         // Sockets: the NVRs' (IPv4, IPv6), the capture's (packet), the
         // adapters' addresses (netlink), systemd's notify socket and the
         // journal (unix).
         "RestrictAddressFamilies=AF_INET AF_INET6 AF_PACKET AF_NETLINK AF_UNIX\n"
         "RestrictNamespaces=yes\n"
         "RestrictRealtime=yes\n"
         "RestrictSUIDSGID=yes\n"
         "LockPersonality=yes\n"
         "MemoryDenyWriteExecute=yes\n"
         "RemoveIPC=yes\n"
         "SystemCallFilter=@system-service\n"
         "SystemCallFilter=~@privileged @resources\n"
         "SystemCallErrorNumber=EPERM\n"
         "SystemCallArchitectures=native\n"
         "\n"
         "[Install]\n"
         "WantedBy=multi-user.target\n";
}

std::string UnitValue(const std::string& text) {
  std::string value;
  for (char c : text) {
    if (c == '%') {
      value += "%%";
    } else if (c == '\n' || c == '\r') {
      value += ' ';
    } else {
      value += c;
    }
  }
  return value;
}

bool RunnableBySystemd(const std::string& path) {
  for (char c : path) {
    if (c == '"' || c == '\'' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      return false;
    }
  }
  return true;
}

std::string ExecWord(const std::string& path) {
  std::string word;
  for (char c : path) word += c == '%' ? std::string("%%") : std::string(1, c);
  return path.find(' ') == std::string::npos ? word : "\"" + word + "\"";
}

}  // namespace tillwire
