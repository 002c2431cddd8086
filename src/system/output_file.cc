#include "system/output_file.h"

#include <cassert>
#include <filesystem>

#include "system/output_system.h"
#include "system/temporary_file.h"

namespace qsoflat {

namespace {

// Fills part with the bytes from offset on, as far as the file goes, and
// keeps those read.
void read_part(std::string& part, std::uint64_t offset,
               const read_call& read_some) {
  std::size_t got = 0;
  while (got < part.size()) {
    const std::size_t size =
        read_some(&part[got], part.size() - got, offset + got);
    if (size == 0)
      break;
    got += size;
  }
  part.resize(got);
}

}  // namespace

system_name folder_of(const system_name& name) {
  const system_name folder = std::filesystem::path(name).parent_path().native();
  return folder.empty() ? system_name(1, '.') : folder;
}

system_name temporary_name(const system_name& target, std::string_view role,
                           int attempt) {
  const std::string own = ".qsoflat-" + std::to_string(process_number()) + "-" +
                          std::string(role) + std::to_string(attempt) + ".tmp";
  return target.substr(0, target.find_last_of(name_separators) + 1) +
         system_name(own.begin(), own.end());
}

int test_head_and_tail(std::uint64_t size, const read_call& read_some,
                       precious_test precious) {
  std::string head(precious_part_size, '\0');
  read_part(head, 0, read_some);
  std::string tail;
  if (size > precious_part_size) {
    const std::uint64_t start =
        (size - precious_part_size + 1) & ~std::uint64_t{1};
    tail.resize(static_cast<std::size_t>(size - start));
    read_part(tail, start, read_some);
  }
  return precious(head, tail);
}

open_result output_file::open(std::FILE* input, const char* name,
                              precious_test precious) {
  discard();
  const open_result result = open_name(input, name, precious);
  failure_ = result.cause;
  assert(holds_invariant());
  return result;
}

std::string output_file::staged_name() const {
  return is_staged() ? utf8_name(temporary_) : std::string();
}

std::string output_file::staged_folder() const {
  return is_staged() ? utf8_name(folder_of(temporary_)) : std::string();
}

bool output_file::commit(const commit_calls& calls) {
  assert(holds_invariant());
  if (state_ == state::closed)
    return false;
  const bool staged = state_ == state::staged;
  // The rows reach the disk before the name does, so that a crash cannot
  // leave an empty file where the old one was; the attributes come with
  // them, once the file is complete.
  bool written = !staged || (std::fflush(stream_) == 0 && take_attributes() &&
                             calls.sync(stream_));
  system_error cause;
  if (!written)
    cause.code = last_error();
  if (calls.close(stream_) != 0 && written) {
    cause.code = last_error();
    written = false;
  }
  stream_ = nullptr;
  state_ = state::closed;
  close_descriptor(source_);
  source_ = -1;
  failure_ = cause;
  if (staged && !written)
    remove_temporary();
  if (!staged || !written)
    return written;
  return put_in_place(calls);
}

void output_file::discard() {
  if (stream_ != nullptr)
    (void)std::fclose(stream_);
  stream_ = nullptr;
  if (state_ == state::staged)
    remove_temporary();
  close_descriptor(source_);
  source_ = -1;
  state_ = state::closed;
}

// Where an interruption has taken the file away already, the process is
// ending.
bool output_file::put_in_place(const commit_calls& calls) {
  if (!begin_placing())
    return false;
  const bool placed = calls.rename(temporary_, target_, replacing_);
  if (!placed) {
    failure_.code = last_error();
    remove_file(temporary_);
  }
  end_placing(placed);
  return placed;
}

void output_file::remove_temporary() {
  const registry_lock held;
  remove_file(temporary_);
  forget_temporary();
}

bool output_file::fail(int code) {
  failure_.code = code;
  return false;
}

}  // namespace qsoflat
