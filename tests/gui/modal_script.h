#pragma once
// Answers the modal windows a command opens, one after the other, from a polling timer: each
// expected window is handed to its handler, which checks it and closes it. A window nobody
// expected, or one that does not come, fails the test and is closed, so that no test can hang.
#include <QApplication>
#include <QTimer>
#include <deque>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace KX::test {

class ModalScript {
 public:
  using Handler = std::function<void(QWidget*)>;

  ModalScript() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start();
  }
  ~ModalScript() {
    for (const auto& step : steps_) ADD_FAILURE() << "modal window never shown: " << step.what;
  }

  // Expects a modal window next; `handle` must close it. What opens further windows has to be
  // queued (QMetaObject::invokeMethod with Qt::QueuedConnection): the timer does not fire again
  // while its handler runs.
  ModalScript& Then(std::string what, Handler handle) {
    steps_.push_back({std::move(what), std::move(handle)});
    return *this;
  }

  int handled() const { return handled_; }

 private:
  struct Step {
    std::string what;
    Handler handle;
  };

  void Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal->property("kxHandled").toBool()) {
      if (++idleTicks_ > 1000) {  // ten seconds without a new window
        idleTicks_ = 0;
        if (!steps_.empty()) ADD_FAILURE() << "gave up waiting for: " << steps_.front().what;
        steps_.clear();
        if (modal && modal->isVisible()) {
          ADD_FAILURE() << "modal window left open: " << modal->metaObject()->className();
          modal->close();
        }
      }
      return;
    }
    idleTicks_ = 0;
    modal->setProperty("kxHandled", true);
    if (steps_.empty()) {
      ADD_FAILURE() << "unexpected modal window " << modal->metaObject()->className() << " \""
                    << modal->windowTitle().toStdString() << "\"";
      modal->close();
      return;
    }
    const Step step = std::move(steps_.front());
    steps_.pop_front();
    ++handled_;
    step.handle(modal);
  }

  QTimer timer_;
  std::deque<Step> steps_;
  int idleTicks_ = 0;
  int handled_ = 0;
};

}  // namespace KX::test
