#include "PlaceholderCatalogue.h"

#include <array>

namespace korvani::packagehost {
namespace {

constexpr std::array<PlaceholderPackage, 14> kPackages{{
    {"RUD_UZ7_de.exe", 883},
    {"RUD_UZ7_en.exe", 793},
    {"RUD_UZ7_es.exe", 851},
    {"RUD_UZ7_fr.exe", 848},
    {"RUD_UZ7_it.exe", 841},
    {"RUD_UZ7_jp.exe", 852},
    {"RUD_UZ7_nl.exe", 804},
    {"VUD_de_win98.exe", 778},
    {"VUD_en_win98.exe", 690},
    {"VUD_es_win98.exe", 746},
    {"VUD_fr_win98.exe", 753},
    {"VUD_it_win98.exe", 748},
    {"VUD_jp_win98.exe", 756},
    {"VUD_nl_win98.exe", 712},
}};

}  // namespace

std::span<const PlaceholderPackage> PlaceholderCatalogue() {
  return kPackages;
}

}  // namespace korvani::packagehost
