#include "filesizelimit.h"

#include <csignal>

TFileSizeLimit::TFileSizeLimit(uint64_t bytes) {
  if (getrlimit(RLIMIT_FSIZE, &previous_) != 0) return;
  previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limit = previous_;
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  active_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

TFileSizeLimit::~TFileSizeLimit() {
  if (active_) setrlimit(RLIMIT_FSIZE, &previous_);
  std::signal(SIGXFSZ, previousHandler_ == SIG_ERR ? SIG_DFL : previousHandler_);
}
