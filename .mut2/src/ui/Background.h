// Network and disk work started by the window runs on the core's background
// queue; its result comes back to the GUI thread, and is dropped when the
// widget that asked has gone by then.
#pragma once

#include <QApplication>
#include <QPointer>
#include <memory>

#include "base/DispatchQueue.h"

namespace palvero::ui {

template <class Work, class Done>
void runInBackground(QObject* context, Work work, Done done) {
  QPointer<QObject> guard(context);
  DispatchQueue::global().async([guard, work, done]() mutable {
    auto result = std::make_shared<decltype(work())>(work());
    QMetaObject::invokeMethod(
        qApp,
        [guard, done, result]() mutable {
          if (guard) done(std::move(*result));
        },
        Qt::QueuedConnection);
  });
}

}  // namespace palvero::ui
