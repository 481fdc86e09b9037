// CDnsLookup: asks one DNS server for the MX records of one domain over
// UDP, on the calling thread, and returns the answer records as texts.
#pragma once

#include <array>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <string>
#include <vector>

#include "dns/dns_codec.h"

namespace heron {

// The texts a program shows for lookup failures, in its own language.
struct DnsTexts {
  const char* unable_to_resolve;  // printf format with the server text
  const char* unable_to_bind;
  const char* invalid_domain;
  const char* unable_to_send;        // printf format with the error number
  const char* unsupported;           // result text of unknown record types
  static const DnsTexts& English();  // the mail service's
  static const DnsTexts& Chinese();  // the desktop programs' (Big5)
};

// Longest wait for one reply; a lost datagram ends the lookup empty.
constexpr std::chrono::seconds kDnsReplyTimeout{10};
constexpr int kDnsMaxReferrals = 3;

class CDnsLookup {
 public:
  explicit CDnsLookup(const DnsTexts& texts = DnsTexts::English()) : texts_(texts) {}
  CDnsLookup(const CDnsLookup&) = delete;
  CDnsLookup& operator=(const CDnsLookup&) = delete;

  // `server`: host name or dotted IPv4 address. False when the server cannot
  // be resolved or the socket cannot be bound; true otherwise, also with an
  // empty list (no records, an invalid name, a send failure, a time-out).
  bool Lookup(const std::string& server, const std::string& domain,
              std::vector<std::string>& results);
  std::string GetErrorText() const { return error_; }
  // When set, a wait for the reply ends soon after `*cancel` becomes true
  // (the lookup then ends empty).
  void SetCancel(const std::atomic<bool>* cancel) { cancel_ = cancel; }
  // After Lookup: no reply came (time-out, cancel, or the query could not be
  // sent), so the empty list says nothing of the domain.
  bool NoAnswer() const { return no_answer_; }

  // Referrals followed by every lookup of the process so far.
  static int ReferralCount() { return referral_count_; }
  // The port queries go to (53); tests point it at a scripted server.
  static void SetServerPortForTesting(uint16_t port) { server_port_ = port; }

 private:
  bool ResolveHost(const std::string& text, asio::ip::address_v4& address);
  bool OpenSocket(const asio::ip::address_v4& address);
  void WaitReply();
  void HandleReply(std::string_view bytes);

  const DnsTexts& texts_;
  const std::atomic<bool>* cancel_ = nullptr;
  std::string error_;
  std::string query_;
  std::vector<std::string>* results_ = nullptr;
  bool done_ = false;
  bool no_answer_ = false;
  bool bind_failed_ = false;
  asio::io_context io_;
  asio::ip::udp::socket socket_{io_};
  asio::steady_timer timer_{io_};
  asio::ip::udp::endpoint server_;
  asio::ip::udp::endpoint from_;
  std::array<char, 4096> buffer_{};

  static std::atomic<int> referral_count_;
  static std::atomic<uint16_t> server_port_;
};

}  // namespace heron
