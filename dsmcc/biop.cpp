// The ServiceGatewayInfo of a DSI, the IOP::IOR inside it and the BIOP profile body.
//
// These structures trust their own counts, and a data carousel's DSI carries something else in the same
// place (a GroupInfoIndication). So instead of rejecting, every decoder here stops at the first field
// that runs past its bytes, keeps what it read up to there and says where it stopped.
#include <cstdint>
#include <cstdio>
#include <string>

#include "dsmcc/messages.h"
#include "log/debug_log.h"
#include "bytes/byte_reader.h"

namespace dsmcc {

namespace {

void log_stopped(const char* what, const bytes::ByteReader& r) {
  logio::g_log.log(2, "%s ends early: %zu bytes wanted at offset %zu of %zu, decoding stops there", what,
            r.error_wanted(), r.error_offset(), r.size());
}

// Field reads that store into the record only what was read whole, so that a record of a body that
// stops early holds exactly the fields in front of the stop.
struct FieldReader {
  bytes::ByteReader& r;
  bool big_endian;

  bool get8(uint32_t& out) {
    const uint32_t v = r.u8();
    if (r.ok()) out = v;
    return r.ok();
  }
  bool get16(uint32_t& out) {
    const uint32_t v = r.u16(big_endian);
    if (r.ok()) out = v;
    return r.ok();
  }
  bool get32(uint32_t& out) {
    const uint32_t v = r.u32(big_endian);
    if (r.ok()) out = v;
    return r.ok();
  }
  bool get_bytes(size_t n, bytes::Bytes& out) {
    const bytes::ByteView v = r.bytes(n);
    if (r.ok()) out.assign(v.begin(), v.end());
    return r.ok();
  }
};

// A ConnBinder tap after the first: only id, use, assocTag and the selector are on the wire. The
// selector's leading 16 bits are its selector_type wherever a selector carries one, so they are shown
// as such; transactionId and timeout belong to the first tap alone and stay 0.
bool read_further_tap(FieldReader& f, DSM::Tap& tap) {
  if (!f.get16(tap.id) || !f.get16(tap.use) || !f.get16(tap.assocTag) || !f.get8(tap.selector_length))
    return false;
  if (!f.get_bytes(tap.selector_length, tap.selector)) return false;
  if (tap.selector.size() >= 2) {
    tap.selector_type = f.big_endian ? static_cast<uint32_t>((tap.selector[0] << 8) | tap.selector[1])
                                     : static_cast<uint32_t>((tap.selector[1] << 8) | tap.selector[0]);
  }
  return true;
}

// The first tap in its fixed 17-byte form, whatever its selector_length says.
bool read_first_tap(FieldReader& f, DSM::Tap& tap) {
  return f.get16(tap.id) && f.get16(tap.use) && f.get16(tap.assocTag) && f.get8(tap.selector_length) &&
         f.get16(tap.selector_type) && f.get32(tap.transactionId) && f.get32(tap.timeout);
}

}  // namespace

void log_object_location(uint32_t carouselId, uint32_t moduleId, bytes::ByteView objectKey) {
  logio::g_log.log(4, "carousel_id: %#x (%d)", static_cast<unsigned>(carouselId),
                   static_cast<int>(carouselId));
  logio::g_log.log(4, "module_id: %#x (%d)", static_cast<unsigned>(moduleId), static_cast<int>(moduleId));
  logio::g_log.log(4, "objectkey:");
  std::string text;
  if (objectKey.empty()) {
    text = "empty";
  } else {
    char digits[3];
    for (uint8_t b : objectKey) {
      std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(b));
      text += digits;
    }
  }
  logio::g_log.log(4, "%s", text.c_str());
}

namespace {

// The body over a reader of its own, which ends where the profile's data ends, so that no field of the
// body can take bytes of the profile behind it.
void read_profile_body(bytes::ByteReader& r, ObjectLocationRef& location, BiopProfileBody& body, bool trace) {
  if (trace) logio::g_log.log(4, "parse_BIOP_ProfileBody()");
  FieldReader f{r, true};
  auto stop = [&]() { log_stopped("BIOP profile body", r); };

  if (!f.get8(body.profile_data_byte_order) || !f.get8(body.lite_component_count)) return stop();
  if (trace) logio::g_log.log(4, "lite_component_count=%d", static_cast<int>(body.lite_component_count));
  f.big_endian = body.profile_data_byte_order == 0;

  // BIOP::ObjectLocation
  if (!f.get32(body.location_componentId_tag)) return stop();
  if (body.location_componentId_tag != BIOP::TAG_ObjectLocation) return;
  if (!f.get8(body.location_component_data_length)) return stop();
  if (trace)
    logio::g_log.log(4, "component_data_length=%d", static_cast<int>(body.location_component_data_length));
  if (!f.get32(body.carouselId) || !f.get16(body.moduleId) || !f.get8(body.version_major) ||
      !f.get8(body.version_minor))
    return stop();
  if (trace) {
    logio::g_log.log(4, "version_major: %#x (%d) ", static_cast<unsigned>(body.version_major),
              static_cast<int>(body.version_major));
    logio::g_log.log(4, "version_minor: %#x (%d) ", static_cast<unsigned>(body.version_minor),
              static_cast<int>(body.version_minor));
  }
  if (!f.get8(body.objectKey_length) || !f.get_bytes(body.objectKey_length, body.objectKey)) return stop();
  if (trace) log_object_location(body.carouselId, body.moduleId, body.objectKey);
  location.carouselId = body.carouselId;
  location.moduleId = body.moduleId;
  location.objectKey = body.objectKey;

  // DSM::ConnBinder, read directly behind the key: component_data_length is kept, not used to step.
  if (!f.get32(body.binder_componentId_tag)) return stop();
  if (body.binder_componentId_tag != BIOP::TAG_ConnBinder) return;
  if (!f.get8(body.binder_component_data_length)) return stop();
  if (trace)
    logio::g_log.log(4, "component_data_length=%d", static_cast<int>(body.binder_component_data_length));
  if (!f.get8(body.taps_count)) return stop();
  if (trace) logio::g_log.log(4, "taps_count=%d", static_cast<int>(body.taps_count));

  // A binder that declares no tap has none: reading one anyway would take the following component's
  // bytes for a tap.
  for (uint32_t i = 0; i < body.taps_count; ++i) {
    DSM::Tap tap;
    const bool whole = i == 0 ? read_first_tap(f, tap) : read_further_tap(f, tap);
    if (!whole) return stop();
    body.taps.push_back(std::move(tap));
  }

  for (uint32_t i = 2; i < body.lite_component_count; ++i) {
    BIOP::LiteComponent component;
    if (!f.get32(component.componentId_tag) || !f.get8(component.component_data_length) ||
        !f.get_bytes(component.component_data_length, component.data))
      return stop();
    body.liteComponents.push_back(std::move(component));
  }
}

}  // namespace

void parse_BIOP_ProfileBody(bytes::ByteView profile_data, ObjectLocationRef& location, BiopProfileBody& body,
                            bool trace) {
  bytes::ByteReader r(profile_data);
  read_profile_body(r, location, body, trace);
}

bool parse_IOR(bytes::ByteReader& r, bool big_endian, ObjectLocationRef& location,
               std::vector<BiopProfileBody>* profiles, bool trace) {
  auto stop = [&]() {
    log_stopped("IOP::IOR", r);
    return false;
  };

  const uint32_t type_id_length = r.u32(big_endian);
  r.skip(type_id_length);  // the type_id text is not kept
  if (type_id_length % 4 != 0) r.skip(4 - type_id_length % 4);
  const auto profile_count = static_cast<int32_t>(r.u32(big_endian));
  if (!r.ok()) return stop();
  if (trace) logio::g_log.log(4, "taggedProfiles_count=%d", static_cast<int>(profile_count));

  for (int32_t i = 0; i < profile_count; ++i) {
    const uint32_t tag = r.u32(big_endian);
    if (!r.ok()) return stop();
    if (trace) logio::g_log.log(4, "profileId_tag=%d", static_cast<int>(tag));
    const uint32_t length = r.u32(big_endian);
    if (!r.ok()) return stop();
    if (trace) logio::g_log.log(4, "profile_data_length=%d", static_cast<int>(length));

    // A profile longer than the bytes left is still decoded as far as it goes, then the IOR ends.
    bytes::ByteReader data = r.sub_or_rest(length);
    if (tag == BIOP::TAG_BIOP) {
      BiopProfileBody body;
      body.profileId_tag = tag;
      body.profile_data_length = length;
      read_profile_body(data, location, body, trace);
      if (profiles) profiles->push_back(std::move(body));
    }
    if (!r.ok()) return stop();
  }
  return true;
}

bool CServiceGatewayInfo::parse(bytes::ByteView data, uint32_t& length) {
  logio::g_log.log(4, "CServiceGatewayInfo::parse(%#x,%d)",
            static_cast<unsigned>(reinterpret_cast<uintptr_t>(data.data()) & 0xFFFFFFFFu),
            static_cast<int>(length));
  profiles.clear();
  downloadTaps_count = 0;
  serviceContextList_count = 0;
  userInfoLength = 0;
  bytes::ByteReader r(data);
  auto done = [&]() {
    length = static_cast<uint32_t>(r.position());
    return true;
  };
  auto stop = [&]() {
    log_stopped("ServiceGatewayInfo", r);
    return done();
  };

  ObjectLocationRef location;  // the gateway keeps its location in the profile records
  if (!parse_IOR(r, true, location, &profiles)) return done();  // parse_IOR said where it stopped

  FieldReader f{r, true};
  if (!f.get8(downloadTaps_count)) return stop();
  logio::g_log.log(4, "downloadTaps_count=%d", static_cast<int>(downloadTaps_count));
  for (uint32_t i = 0; i < downloadTaps_count; ++i) {
    r.skip(6);  // id, use, assocTag
    const uint32_t selector_length = r.u8();
    if (!r.skip(selector_length)) return stop();
  }

  if (!f.get8(serviceContextList_count)) return stop();
  logio::g_log.log(4, "serviceContextList_count=%d", static_cast<int>(serviceContextList_count));
  for (uint32_t i = 0; i < serviceContextList_count; ++i) {
    r.skip(4);  // context_id
    const uint32_t context_length = r.be16();
    if (!r.skip(context_length)) return stop();
  }

  if (!f.get16(userInfoLength)) return stop();
  if (!r.skip(userInfoLength)) return stop();
  logio::g_log.log(4, "userInfoLength=%d", static_cast<int>(userInfoLength));
  return done();
}

}  // namespace dsmcc
