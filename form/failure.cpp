#include "form/failure.h"

#include "form/frmSerial.h"

namespace rilvano {

BoxMessage FailureBox(const std::exception_ptr& failure) {
  std::string reason;
  try {
    if (failure) std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
  }
  if (reason.empty()) reason = "причина неизвестна";
  if (reason.back() != '.') reason += '.';
  return {"Rilvano", "Непредвиденная ошибка: " + reason + "\r\nВсё записанное в журнал сохранено; программа будет закрыта.",
          BoxIcon::Critical};
}

int EndAfterFailure(const std::exception_ptr& failure, frmSerial* form,
                    const std::function<void(const BoxMessage&)>& show) {
  try {
    if (form != nullptr) {
      // No tick may run under the box, and the log is closed before the
      // operator is asked anything: whatever happens next, it is complete.
      form->view().StopTimer();
      form->Form_Unload();
    }
  } catch (...) {
  }
  try {
    const BoxMessage box = FailureBox(failure);
    const BoxHandler handler = CurrentBoxHandler();
    if (handler) {
      handler(box);
    } else if (show) {
      show(box);
    }
  } catch (...) {
  }
  return kFailureExitStatus;
}

}  // namespace rilvano
