#include "dns/dns_lookup.h"

#include <netdb.h>
#include <strings.h>
#include <sys/socket.h>

#include <cstring>

#include "platform/text.h"

namespace heron {

std::atomic<int> CDnsLookup::referral_count_{0};
std::atomic<uint16_t> CDnsLookup::server_port_{53};

const DnsTexts& DnsTexts::English() {
  static const DnsTexts texts{"Unable to resolve '%s'", "Unable to bind local address",
                              "Query is not a valid domain", "Unable to send UDP request (%u)",
                              "Unsupported"};
  return texts;
}

const DnsTexts& DnsTexts::Chinese() {
  static const DnsTexts texts{B5("無法解析 '%s'"), B5("無法繫結本機位址"), B5("網域名稱無效"),
                              B5("無法傳遞 UDP 要求 (%u)"), B5("不支援")};
  return texts;
}

// A dotted address is used as it is; only a host name is resolved (forward,
// IPv4), through the system resolver.
bool CDnsLookup::ResolveHost(const std::string& text, asio::ip::address_v4& address) {
  asio::error_code ec;
  address = asio::ip::make_address_v4(text, ec);
  if (!ec) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (text.empty() || getaddrinfo(text.c_str(), nullptr, &hints, &found) != 0 || !found) {
    return false;
  }
  auto* sin = reinterpret_cast<sockaddr_in*>(found->ai_addr);
  address = asio::ip::address_v4(ntohl(sin->sin_addr.s_addr));
  freeaddrinfo(found);
  return true;
}

bool CDnsLookup::Lookup(const std::string& server, const std::string& domain,
                        std::vector<std::string>& results) {
  error_.clear();
  results_ = &results;
  results.clear();
  done_ = false;
  no_answer_ = false;
  asio::ip::address_v4 address;
  if (!ResolveHost(server, address)) {
    error_ = StrPrintf(texts_.unable_to_resolve, server.c_str());
    return false;
  }
  auto query = EncodeMxQuery(domain.substr(0, kDnsMaxName));
  if (!query) {
    error_ = texts_.invalid_domain;  // nothing is sent
    return true;
  }
  query_ = std::move(*query);
  if (!OpenSocket(address)) return !bind_failed_;
  while (!done_) {
    io_.run_one_for(std::chrono::milliseconds(200));
    if (io_.stopped()) break;
    if (cancel_ && *cancel_) {
      no_answer_ = true;
      asio::error_code ignored;
      timer_.cancel();
      socket_.close(ignored);
      io_.restart();
      io_.poll();
      break;
    }
  }
  io_.restart();
  asio::error_code ec;
  socket_.close(ec);
  return true;
}

bool CDnsLookup::OpenSocket(const asio::ip::address_v4& address) {
  asio::error_code ec;
  socket_.close(ec);
  socket_.open(asio::ip::udp::v4(), ec);
  if (!ec) socket_.bind(asio::ip::udp::endpoint(asio::ip::udp::v4(), 0), ec);
  if (ec) {
    error_ = texts_.unable_to_bind;
    bind_failed_ = true;
    done_ = true;
    return false;
  }
  server_ = asio::ip::udp::endpoint(address, server_port_);
  socket_.send_to(asio::buffer(query_), server_, 0, ec);
  if (ec) {
    error_ = StrPrintf(texts_.unable_to_send, static_cast<unsigned>(ec.value()));
    socket_.close(ec);
    done_ = true;
    no_answer_ = true;
    return false;
  }
  timer_.expires_after(kDnsReplyTimeout);
  timer_.async_wait([this](const asio::error_code& wait_ec) {
    if (wait_ec) return;
    // No reply in time: the lookup ends with what it has, nothing.
    asio::error_code ignored;
    socket_.close(ignored);
    done_ = true;
    no_answer_ = true;
  });
  WaitReply();
  return true;
}

void CDnsLookup::WaitReply() {
  socket_.async_receive_from(asio::buffer(buffer_), from_,
                             [this](const asio::error_code& ec, size_t n) {
                               if (ec || done_) return;
                               // Only the server's own replies count.
                               if (from_ != server_) {
                                 WaitReply();
                                 return;
                               }
                               timer_.cancel();
                               asio::error_code ignored;
                               socket_.close(ignored);
                               HandleReply(std::string_view(buffer_.data(), n));
                             });
}

void CDnsLookup::HandleReply(std::string_view bytes) {
  auto reply = ParseReply(bytes, texts_.unsupported);
  if (!reply) {
    done_ = true;  // a malformed reply yields nothing
    return;
  }
  // Referral: a non-authoritative answer naming a name server with glue.
  // Only an address record is glue: the data of any other type would go to
  // the system resolver as a host name.
  if (!reply->authoritative() && reply->rcode() == 0 && !reply->authorities.empty()) {
    const std::string& ns = reply->authorities.front().data;
    for (const DnsEntry& add : reply->additionals) {
      if (add.type != kDnsTypeA || strcasecmp(add.name.c_str(), ns.c_str()) != 0) continue;
      int count = referral_count_.load();
      asio::ip::address_v4 glue;
      if (count < kDnsMaxReferrals && ResolveHost(add.data, glue) &&
          referral_count_.compare_exchange_strong(count, count + 1)) {
        if (OpenSocket(glue)) return;  // waiting for the referred server
        done_ = true;
        return;
      }
      break;
    }
  }
  for (const DnsEntry& a : reply->answers) results_->push_back(a.data);
  done_ = true;
}

}  // namespace heron
