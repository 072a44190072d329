#include "support/scanner_sim.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

// The run directory is a Linux path; Wine shows the Linux root as Z:.
std::string RunDirectoryFile(const std::string& name) {
  const char* runDir = std::getenv("WEDGE_RUN_DIR");
  if (runDir == nullptr) throw std::runtime_error("WEDGE_RUN_DIR is not set");
  std::string path = std::string("Z:") + runDir + "/" + name;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

std::string Port(int port) { return "COM" + std::to_string(port); }

}  // namespace

ScannerSim::ScannerSim() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  std::ifstream portFile(RunDirectoryFile("sim.port"));
  int tcpPort = 0;
  if (!(portFile >> tcpPort)) throw std::runtime_error("the scanner simulator is not running");
  const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(tcpPort));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::closesocket(s);
    throw std::runtime_error("cannot reach the scanner simulator");
  }
  socket_ = s;
}

ScannerSim::~ScannerSim() {
  ::closesocket(static_cast<SOCKET>(socket_));
  ::WSACleanup();
}

std::string ScannerSim::Request(const std::string& line) {
  const std::string request = line + "\n";
  const auto s = static_cast<SOCKET>(socket_);
  if (::send(s, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size())) {
    throw std::runtime_error("scanner simulator: send failed");
  }
  std::string reply;
  char c = 0;
  while (::recv(s, &c, 1, 0) == 1 && c != '\n') reply += c;
  if (reply.rfind("OK", 0) != 0) throw std::runtime_error("scanner simulator: " + line + " -> " + reply);
  return reply.size() > 3 ? reply.substr(3) : std::string();
}

void ScannerSim::Open(int port) { Request("OPEN " + Port(port)); }

ScannerSim::LineState ScannerSim::Termios(int port) {
  std::istringstream fields(Request("TERMIOS " + Port(port)));
  LineState state;
  std::string field;
  while (fields >> field) {
    const auto equals = field.find('=');
    const std::string name = field.substr(0, equals);
    const std::string value = field.substr(equals + 1);
    if (name == "baud") state.baud = std::stoi(value);
    if (name == "stop") state.stopBits = std::stoi(value);
  }
  return state;
}

void ScannerSim::Write(int port, const std::string& bytes) { Request("WRITE " + Port(port) + " " + Hex(bytes)); }

std::string ScannerSim::Read(int port) {
  const std::string hex = Request("READ " + Port(port));
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

void ScannerSim::Key(bool down, const std::string& keysym) {
  Request(std::string("KEY ") + (down ? "DOWN " : "UP ") + keysym);
}

void ScannerSim::Pace(int port, int baud, const std::string& bytes) {
  Request("PACE " + Port(port) + " " + std::to_string(baud) + " " + Hex(bytes));
}

void ScannerSim::Close(int port) { Request("CLOSE " + Port(port)); }

void ScannerSim::Unmap(int port) { Request("UNMAP " + Port(port)); }

bool ScannerSim::AttachHostSerial(int port) { return Request("HOSTSERIAL " + Port(port)) == "1"; }
