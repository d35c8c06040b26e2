#include "engine/rip_tags.h"

#include <string>

namespace {

// The value of a text of the disc or a track, "" when it has none.
std::string text_of(const std::vector<SheetText>& texts, const char* keyword) {
  for (const SheetText& text : texts)
    if (!text.rem && text.keyword == keyword) return text.value;
  return "";
}

void add(std::vector<AudioTag>* tags, const char* name, const std::string& value) {
  if (!value.empty()) tags->emplace_back(name, value);
}

unsigned track_total(const DiscLayout& layout) {
  unsigned total = 0;
  for (unsigned i = 0; i < layout.track_count; ++i)
    if (!(layout.tracks[i].track_flags & TRACK_INSERTED)) ++total;
  return total;
}

std::string catalog(const DiscLayout& layout) {
  if (!(layout.layout_flags & LAYOUT_MCN)) return "";
  return std::string(layout.catalog_number.data(), layout.catalog_number.size());
}

}  // namespace

std::unique_ptr<DiscLayout> read_disc_metadata(CdReader& reader) {
  std::unique_ptr<DiscLayout> layout = create_disc_layout();
  reader.ReadDiscToc(layout.get(), false, true, true);
  // The disc's CD-TEXT, read into disc_texts and track_texts, goes here.
  return layout;
}

std::vector<AudioTag> track_tags(const DiscLayout& layout, unsigned entry) {
  const TrackEntry& track = layout.tracks[entry];
  const std::vector<SheetText>& texts = layout.track_texts[entry];
  std::vector<AudioTag> tags;
  add(&tags, "TITLE", text_of(texts, "TITLE"));
  std::string artist = text_of(texts, "PERFORMER");
  if (artist.empty()) artist = text_of(layout.disc_texts, "PERFORMER");
  add(&tags, "ARTIST", artist);
  add(&tags, "ALBUM", text_of(layout.disc_texts, "TITLE"));
  add(&tags, "TRACKNUMBER", std::to_string(track.track_number));
  add(&tags, "TRACKTOTAL", std::to_string(track_total(layout)));
  if (track.track_flags & TRACK_ISRC)
    add(&tags, "ISRC", std::string(track.isrc.data(), track.isrc.size()));
  add(&tags, "CATALOGNUMBER", catalog(layout));
  return tags;
}

std::vector<AudioTag> disc_tags(const DiscLayout& layout) {
  std::vector<AudioTag> tags;
  add(&tags, "ALBUM", text_of(layout.disc_texts, "TITLE"));
  add(&tags, "ARTIST", text_of(layout.disc_texts, "PERFORMER"));
  add(&tags, "TRACKTOTAL", std::to_string(track_total(layout)));
  add(&tags, "CATALOGNUMBER", catalog(layout));
  return tags;
}
