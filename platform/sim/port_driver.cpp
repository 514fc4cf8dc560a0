#include "port_driver.h"

#include <cstring>

#include "machine.h"

namespace {

void PutWord(void* out, std::size_t offset, DWORD value) { std::memcpy(static_cast<BYTE*>(out) + offset, &value, 4); }

DWORD GetWord(const void* in, std::size_t offset) {
  DWORD v;
  std::memcpy(&v, static_cast<const BYTE*>(in) + offset, 4);
  return v;
}

SimPortRequest ReadBlock(const BYTE* block) {
  SimPortRequest r;
  r.device = GetWord(block, 0);
  r.sectorSize = GetWord(block, 4);
  r.start = GetWord(block, 8);
  r.count = GetWord(block, 12);
  r.buffer = GetWord(block, 16);
  r.status = static_cast<LONG>(GetWord(block, 20));
  r.event = GetWord(block, 24);
  r.flags = GetWord(block, 28);
  return r;
}

}  // namespace

SimPortDriver::SimPortDriver(const sim::PortDriverConfig& config, SimClock* clock) : config_(config), clock_(clock) {
  for (const sim::UnitConfig& u : config_.units) media_.push_back(std::make_unique<SimMedium>(u.drive));
}

std::string SimPortDriver::OpenMedia() {
  for (std::size_t i = 0; i < media_.size(); ++i) {
    std::string problem = media_[i]->Open();
    if (!problem.empty()) return "portDriver.units[" + std::to_string(i) + "].drive.image: " + problem;
  }
  return {};
}

const SimPortRequest* SimPortDriver::LastRequest(DWORD code) const {
  auto it = last_.find(code);
  return it == last_.end() ? nullptr : &it->second;
}

int SimPortDriver::Calls(DWORD code) const {
  auto it = calls_.find(code);
  return it == calls_.end() ? 0 : it->second;
}

bool SimPortDriver::IoControl(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
  ++calls_[code];
  *returned = 0;
  // Every code takes exactly its own buffer sizes.
  auto sizes = [&](DWORD wantIn, DWORD wantOut) {
    return inSize == wantIn && outSize == wantOut && (wantIn == 0 || in) && (wantOut == 0 || out);
  };
  const std::size_t unitCount = config_.units.size();
  switch (code) {
    case kDrvUnitCount:
      if (!sizes(0, 4)) return false;
      PutWord(out, 0, static_cast<DWORD>(unitCount));
      *returned = 4;
      return true;
    case kDrvVersion:
      if (!sizes(0, 4)) return false;
      PutWord(out, 0, config_.version);
      *returned = 4;
      return true;
    case kDrvRead:
    case kDrvWrite:
      if (!sizes(kRequestBlockSize, 0)) return false;
      return Request(code == kDrvWrite, static_cast<BYTE*>(in));
    case kDrvAttachBuffer:
      if (!sizes(kRequestBlockSize, 0)) return false;
      return Attach(static_cast<BYTE*>(in));
    case kDrvEndTransfers:
      return sizes(0, 0);
    case kDrvUnitName:
    case kDrvUnitType:
    case kDrvUnitCapacity:
    case kDrvUnitDevNode: {
      DWORD want = code == kDrvUnitName ? kNameReplySize : code == kDrvUnitCapacity ? 8 : 4;
      if (!sizes(4, want)) return false;
      DWORD unit = GetWord(in, 0);
      return unit < unitCount && UnitQuery(code, config_.units[unit], unit, out, outSize, returned);
    }
    case kDrvDeviceFlags:
    case kDrvMaxTransfer: {
      // These two are asked by drive-table row (from 1), not by unit number.
      if (!sizes(4, 4)) return false;
      DWORD row = GetWord(in, 0);
      return row >= 1 && row <= unitCount && UnitQuery(code, config_.units[row - 1], row - 1, out, outSize, returned);
    }
    default:
      return false;
  }
}

bool SimPortDriver::UnitQuery(DWORD code, const sim::UnitConfig& unit, std::size_t index, void* out, DWORD outSize,
                              DWORD* returned) {
  unsigned query = code == kDrvUnitType       ? sim::kQueryType
                   : code == kDrvUnitCapacity ? sim::kQueryCapacity
                   : code == kDrvUnitDevNode  ? sim::kQueryDevNode
                   : code == kDrvUnitName     ? sim::kQueryName
                   : code == kDrvDeviceFlags  ? sim::kQueryFlags
                                              : sim::kQueryMaxTransfer;
  if (unit.fails & query) return false;
  switch (code) {
    case kDrvUnitType:
      PutWord(out, 0, unit.type);
      break;
    case kDrvUnitCapacity:
      // The second word is not part of the capacity; it carries the sector size.
      PutWord(out, 0, unit.capacity);
      PutWord(out, 4, static_cast<DWORD>(media_[index]->config().sectorSize));
      break;
    case kDrvUnitDevNode:
      PutWord(out, 0, unit.devNode);
      break;
    case kDrvUnitName:
      std::memset(out, 0, kNameReplySize);
      std::memcpy(out, unit.name.data(), unit.name.size());  // at most 100 bytes, checked on load
      break;
    case kDrvDeviceFlags:
      PutWord(out, 0, unit.flags);
      break;
    default:
      PutWord(out, 0, static_cast<DWORD>(unit.maxTransfer));
      break;
  }
  *returned = outSize;
  return true;
}

bool SimPortDriver::Attach(BYTE* block) {
  SimPortRequest r = ReadBlock(block);
  last_[kDrvAttachBuffer] = r;
  if (!UlongToPtr(r.buffer)) return false;
  attached_[r.buffer] = r.count;
  return true;
}

void SimPortDriver::Complete(BYTE* block, DWORD event, LONG status) {
  PutWord(block, 20, static_cast<DWORD>(status));
  win32::SignalRingZero(event);
}

bool SimPortDriver::Request(bool write, BYTE* block) {
  Pending p;
  p.write = write;
  p.request = ReadBlock(block);
  p.block = block;
  last_[write ? kDrvWrite : kDrvRead] = p.request;
  const SimPortRequest& r = p.request;

  // Refused at once: an unknown unit, or bytes outside every announced buffer.
  auto buffer = attached_.find(r.buffer);
  std::int64_t bytes = std::int64_t{r.count} * r.sectorSize;
  if (r.device >= config_.units.size() || buffer == attached_.end() || bytes > buffer->second ||
      !UlongToPtr(r.buffer)) {
    Complete(block, r.event, kFailedStatus);
    return false;
  }
  switch (config_.units[r.device].completion) {
    case sim::Completion::kNormal:
      Finish(p);
      break;
    case sim::Completion::kNever:
      break;  // the request is lost inside the driver
    case sim::Completion::kLate:
      if (pending_.active) Finish(pending_);
      pending_ = p;
      pending_.active = true;
      break;
  }
  return true;
}

void SimPortDriver::Finish(const Pending& p) {
  const SimPortRequest& r = p.request;
  SimMedium& medium = *media_[r.device];
  auto began = std::chrono::steady_clock::now();
  DWORD bytes = r.count * r.sectorSize;  // within an announced buffer, so within 32 bits
  SimMedium::Outcome o =
      medium.Transfer(p.write, std::int64_t{r.start} * r.sectorSize, UlongToPtr(r.buffer), bytes);
  clock_->Spend(began, o.cost);
  bool whole = o.ok && o.moved == bytes;
  Complete(p.block, r.event, whole ? config_.units[r.device].status : kFailedStatus);
}

void SimPortDriver::WaitGaveUp() {
  if (!pending_.active) return;
  Pending p = pending_;
  pending_.active = false;
  Finish(p);
}
