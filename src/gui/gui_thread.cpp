#include "gui/gui_thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <exception>
#include <future>
#include <memory>
#include <mutex>

namespace {

// One answer, set once, waited for by one thread.
class CAnswer {
 public:
  void Set(int value) {
    std::call_once(m_once, [&] { m_promise.set_value(value); });
  }
  void Fail(std::exception_ptr error) {
    std::call_once(m_once, [&] { m_promise.set_exception(error); });
  }
  int Wait() { return m_future.get(); }

 private:
  std::once_flag m_once;
  std::promise<int> m_promise;
  std::future<int> m_future = m_promise.get_future();
};

}  // namespace

bool CGuiThread::IsCurrent() {
  QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

void CGuiThread::Post(std::function<void()> call) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
}

void CGuiThread::Run(const std::function<void()>& call) {
  if (IsCurrent()) {
    call();
    return;
  }
  auto answer = std::make_shared<CAnswer>();
  Post([&call, answer] {
    try {
      call();
      answer->Set(0);
    } catch (...) {
      answer->Fail(std::current_exception());
    }
  });
  answer->Wait();
}

int CGuiThread::Await(std::function<void(Done)> start) {
  if (IsCurrent()) {
    struct Local {
      QEventLoop loop;
      bool finished = false;
      int result = 0;
    };
    auto local = std::make_shared<Local>();
    start([weak = std::weak_ptr<Local>(local)](int result) {
      auto state = weak.lock();
      if (!state || state->finished) return;
      state->finished = true;
      state->result = result;
      state->loop.quit();
    });
    if (!local->finished) local->loop.exec();
    return local->result;
  }
  auto answer = std::make_shared<CAnswer>();
  Post([start = std::move(start), answer] {
    try {
      start([answer](int result) { answer->Set(result); });
    } catch (...) {
      answer->Fail(std::current_exception());
    }
  });
  return answer->Wait();
}
