#include "pop3/pop3_thread.h"

#include "platform/text.h"
#include "service/osprey.h"

namespace heron {

CPop3Thread::CPop3Thread(COsprey& service, CPop3Socket::Config config, const std::string& peer)
    : CClientThread(service,
                    {"POP3", B5("連線逾時"), B5("無法傳遞回應，連線已中斷！"),
                     B5("Pop3 通訊端接收錯誤： %d")},
                    peer),
      session_(std::move(config), peer, *this) {}

bool CPop3Thread::CheckPassword(const std::string& user, const std::string& password) {
  return service().accounts().CheckPassword(user, password);
}

void CPop3Thread::OnStart() { session_.Start(service().session_count()); }

// The service's current value, not a copy: a reload applies at once.
int CPop3Thread::TimeoutSeconds() const { return service().current_timeout(); }

}  // namespace heron
