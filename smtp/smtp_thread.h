// One SMTP connection: the session engine on a client thread, with the
// settings snapshot taken at accept time.
#pragma once

#include "service/address_cache.h"
#include "service/client_thread.h"
#include "smtp/smtp_session.h"

namespace heron {

class CSmtpThread : public CClientThread, public SmtpSessionHost {
 public:
  // The address caches are the service's, shared by all sessions.
  CSmtpThread(ServiceHost& service, const OspreySettings& snapshot, const std::string& peer,
              AddressCache& passed, AddressCache& rejected, TlsPolicy tls = {});

  // SmtpSessionHost
  void Log(const std::string& text) override { LogText(text); }
  void Touch() override { CClientThread::Touch(); }
  AccountStore& accounts() override { return service().Accounts(); }
  LoginGuard* logins() override { return &service().Logins(); }
  bool HasMailbox(const std::string& name) override;
  void EnsureMailbox(const std::string& name) override;
  bool ReadLogTail(size_t limit, std::string& out) override;
  std::string NewMessageId() override;
  bool Listed(const std::string& query) override;
  ReverseName Reverse(const std::string& address) override;
  bool InCache(bool rejected, const std::string& address) override;
  void AddToCache(bool rejected, const std::string& address) override;
  std::time_t Now() override;
  bool StoreMessage(const std::string& name,
                    const std::function<void(const MessageWriter&)>& produce) override;

 protected:
  void OnStart() override { session_.Start(sessions_before(), sessions_from_address()); }
  void OnBytes(std::string_view bytes) override { session_.Receive(bytes); }
  std::string TakeOutput() override { return session_.TakeOutput(); }
  bool SessionOver() const override { return session_.ended(); }
  int TimeoutSeconds() const override { return session_.settings().timeout; }
  bool TakeTlsRequest() override { return session_.TakeTlsRequest(); }
  void OnTlsStarted() override { session_.TlsStarted(); }

 private:
  std::string mail_root_;
  AddressCache& passed_;
  AddressCache& rejected_;
  CSmtpSocket session_;
};

}  // namespace heron
