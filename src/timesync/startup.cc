#include "timesync/startup.h"

#include "platform/notice.h"
#include "timesync/date_time.h"

namespace timesync {

Notice NoticeForOutcome(const NetworkTimeOutcome& outcome) {
  const Text time = FormatDateTime(outcome.time, "-", ":", DateTimeLayout::DateAndTime);
  if (outcome.clockSet) return {kNoticeCaptionDone, Concat(kNoticeTextDone, time)};
  if (!outcome.dateReceived) return {kNoticeCaptionFailed, kNoticeTextNoDate};
  if (!outcome.dateAccepted) return {kNoticeCaptionFailed, kNoticeTextUnreadableDate};
  return {kNoticeCaptionFailed, Concat(kNoticeTextRefused, time)};
}

std::int32_t StartupRoutine() {
  const Notice notice = NoticeForOutcome(FetchNetworkTimeWithOutcome(/*setClock=*/true));
  platform::MessageBoxTimeout(notice.text.view(), notice.caption.view(), NoticeTimeoutMilliseconds);
  return 0;
}

std::int32_t ProgramEntry() {
  // No framework start-up, exit hook or global values to prepare on Linux.
  StartupRoutine();
  return 0;
}

}  // namespace timesync
