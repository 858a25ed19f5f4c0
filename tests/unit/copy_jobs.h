// Copy jobs for the drive layers' tests.
#ifndef FLASHDROP_TESTS_COPY_JOBS_H_
#define FLASHDROP_TESTS_COPY_JOBS_H_

#include <cstdint>
#include <vector>

#include "drive/drives.h"

// The copy of `file` under its own name: `bytes` as read before, or none.
inline CopyJob job_of(const SourceFile& file, const std::vector<uint8_t>* bytes = nullptr,
                      const std::vector<uint64_t>& ends = {}) {
  CopyJob job;
  job.source = &file;
  job.bytes = bytes;
  job.name = file.name;
  job.piece_ends = ends;
  return job;
}

#endif  // FLASHDROP_TESTS_COPY_JOBS_H_
