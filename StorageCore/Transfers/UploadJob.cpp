#include "StorageCore/Transfers/UploadJob.h"

#include <algorithm>

namespace tw {

double UploadJob::progress() const {
    if (state.kind == State::Kind::completed)
        return 1.0;
    if (file.sizeBytes <= 0)
        return 0.0;
    return std::min(double(bytesSent) / double(file.sizeBytes), 1.0);
}

} // namespace tw
