// The zero-run packing. The escapes are the rarest byte values of the stream; byte values that
// never occur become fixed-count codes for the commonest exact patterns (a value then 1-4 zeros,
// or 2-252 zeros then a value), and rare ones become trailing-count codes for "zeros then a
// value" of any length. The body is then the cheapest parse under that table (one backward pass).
#include "tools/compile/image_pack.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr uint32_t INF = 0xFFFFFFFF;

struct Pattern {
  uint8_t value;
  uint8_t count;     // the code's count byte: < 5 value then zeros, >= 5 count - 3 zeros then value
  uint64_t saving;   // bytes saved over the escapes alone
};

enum Choice : uint8_t { C_LIT, C_ZERO, C_E2, C_E3, C_E4, C_ZRUN, C_FIXED_AFTER, C_FIXED_BEFORE, C_TRAIL };

}  // namespace

std::vector<uint8_t> pack_stream(const std::vector<uint8_t>& s) {
  const size_t n = s.size();
  std::vector<uint32_t> zr(n + 1, 0);   // zeros from i up to the next non-zero byte
  for (size_t i = n; i-- > 0;) zr[i] = s[i] == 0 ? zr[i + 1] + 1 : 0;

  std::array<uint64_t, 256> hist{};
  for (uint8_t b : s) hist[b]++;
  // Exact patterns: a value followed by exactly c (1-4) zeros; exactly z (2-252) zeros then a value.
  std::vector<uint64_t> after(256 * 5, 0), before(256 * 256, 0), trail(256, 0);
  for (size_t i = 0; i < n; i++) {
    if (s[i] != 0) {
      uint32_t c = zr[i + 1];
      if (c >= 1 && c <= 4) after[s[i] * 5 + c]++;
    } else if (i == 0 || s[i - 1] != 0) {
      uint32_t z = zr[i];
      if (i + z < n && z >= 2 && z <= 252) {
        before[s[i + z] * 256 + z]++;
        if (z >= 5 && z != 251) trail[s[i + z]]++;
      }
    }
  }

  // Byte values by how rarely they occur (ties by value, so the result is deterministic).
  std::vector<uint8_t> rare;
  for (int b = 1; b < 256; b++) rare.push_back(static_cast<uint8_t>(b));
  std::stable_sort(rare.begin(), rare.end(), [&](uint8_t x, uint8_t y) { return hist[x] < hist[y]; });
  const uint8_t Z = rare[0], E2 = rare[1], E3 = rare[2], E4 = rare[3];
  size_t next_rare = 4;

  std::vector<Pattern> fixed;
  for (int v = 1; v < 256; v++) {
    for (int c = 1; c <= 4; c++)
      if (after[v * 5 + c] > 0) fixed.push_back({static_cast<uint8_t>(v), static_cast<uint8_t>(c), after[v * 5 + c]});
    for (int z = 2; z <= 252; z++)
      if (before[v * 256 + z] > 0)
        fixed.push_back({static_cast<uint8_t>(v), static_cast<uint8_t>(z + 3), before[v * 256 + z] * (z >= 5 ? 2 : 1)});
  }
  std::stable_sort(fixed.begin(), fixed.end(), [](const Pattern& x, const Pattern& y) { return x.saving > y.saving; });
  std::vector<uint8_t> K, V, F;        // fixed-count codes
  std::vector<uint8_t> TK, TV;         // trailing-count codes
  std::array<int, 256> route;          // fixed code byte -> its trailing entry (value = the byte)
  route.fill(-1);
  // A fixed code byte cannot stand for itself; when its value occurs in the stream it is written
  // through a trailing code of that value with count 0 (two bytes), whose own byte in turn costs
  // two bytes where it occurs. Codes are taken while they save more than that.
  for (const Pattern& p : fixed) {
    if (K.size() + TK.size() + 2 > 255 || next_rare + 1 >= rare.size()) break;
    uint8_t code = rare[next_rare];
    uint64_t cost = 3 + (hist[code] ? 2 + hist[code] + hist[rare[next_rare + 1]] : 0);
    if (p.saving <= cost + 2) break;
    next_rare++;
    K.push_back(code);
    V.push_back(p.value);
    F.push_back(p.count);
    if (hist[code]) {
      route[code] = static_cast<int>(TK.size());
      TK.push_back(rare[next_rare++]);
      TV.push_back(code);
    }
  }
  const size_t m = K.size();
  // Trailing-count codes for "zeros then a value": each literal occurrence of the code byte
  // costs one byte more.
  std::vector<std::pair<uint64_t, uint8_t>> trails;
  for (int v = 1; v < 256; v++)
    if (trail[v] > 0) trails.push_back({trail[v], static_cast<uint8_t>(v)});
  std::stable_sort(trails.begin(), trails.end(), [](const auto& x, const auto& y) { return x.first > y.first; });
  for (const auto& t : trails) {
    if (K.size() + TK.size() >= 255 || next_rare >= rare.size()) break;
    uint8_t code = rare[next_rare];
    if (t.first <= hist[code] + 2) break;
    next_rare++;
    TK.push_back(code);
    TV.push_back(t.second);
  }
  for (int& r : route)
    if (r >= 0) r += static_cast<int>(m);
  K.insert(K.end(), TK.begin(), TK.end());
  V.insert(V.end(), TV.begin(), TV.end());

  // Lookups for the parse.
  std::array<int, 256 * 5> fixedAfter;
  fixedAfter.fill(-1);
  std::vector<int> fixedBefore(256 * 256, -1);
  std::array<int, 256> trailCode;
  trailCode.fill(-1);
  std::array<uint8_t, 256> litCost;
  litCost.fill(1);
  for (size_t i = 0; i < K.size(); i++) {
    if (i < m) {
      if (F[i] < 5) fixedAfter[V[i] * 5 + F[i]] = static_cast<int>(i);
      else fixedBefore[V[i] * 256 + (F[i] - 3)] = static_cast<int>(i);
    } else if (trailCode[V[i]] < 0) {
      trailCode[V[i]] = static_cast<int>(i);
    }
    litCost[K[i]] = 2;   // through its route for fixed codes; K FE for trailing ones
  }
  litCost[Z] = litCost[E2] = litCost[E3] = litCost[E4] = 2;

  std::vector<uint32_t> best(n + 1, INF);
  std::vector<uint8_t> choice(n, C_LIT);
  std::vector<uint8_t> arg(n, 0);
  std::vector<uint16_t> first(n + 1, 256);   // first byte written for position i (256: none)
  best[n] = 0;
  auto consider = [&](size_t i, uint32_t cost, size_t len, Choice c, uint8_t a) {
    if (i + len > n || best[i + len] == INF || cost + best[i + len] >= best[i]) return;
    uint16_t lead;
    switch (c) {
      case C_LIT: lead = route[s[i]] >= 0 ? K[route[s[i]]] : s[i]; break;
      case C_ZERO: lead = 0; break;
      case C_E2: lead = E2; break;
      case C_E3: lead = E3; break;
      case C_E4: lead = E4; break;
      case C_ZRUN: lead = Z; break;
      default: lead = K[a]; break;
    }
    // A bare two/three/four-zero escape followed by the same byte would read as that byte.
    if ((c == C_E2 || c == C_E3 || c == C_E4) && first[i + len] == lead) return;
    best[i] = cost + best[i + len];
    choice[i] = c;
    arg[i] = a;
    first[i] = lead;
  };
  for (size_t i = n; i-- > 0;) {
    if (s[i] != 0) {
      consider(i, litCost[s[i]], 1, C_LIT, 0);
      uint32_t c = std::min<uint32_t>(zr[i + 1], 4);
      for (uint32_t k = 1; k <= c; k++)
        if (int j = fixedAfter[s[i] * 5 + k]; j >= 0) consider(i, 1, k + 1, C_FIXED_AFTER, static_cast<uint8_t>(j));
      continue;
    }
    uint32_t z = zr[i];
    consider(i, 1, 1, C_ZERO, 0);
    if (z >= 2) consider(i, 1, 2, C_E2, 0);
    if (z >= 3) consider(i, 1, 3, C_E3, 0);
    if (z >= 4) consider(i, 1, 4, C_E4, 0);
    if (z >= 5) consider(i, 2, std::min<uint32_t>(z, 255), C_ZRUN, static_cast<uint8_t>(std::min<uint32_t>(z, 255)));
    if (i + z < n && z >= 2 && z <= 252) {
      uint8_t v = s[i + z];
      if (int j = fixedBefore[v * 256 + z]; j >= 0) consider(i, 1, z + 1, C_FIXED_BEFORE, static_cast<uint8_t>(j));
      if (z >= 2 && z + 3 != 0xFE)
        if (int j = trailCode[v]; j >= 0) consider(i, 2, z + 1, C_TRAIL, static_cast<uint8_t>(j));
    }
  }

  // The header and the code tables are written into place: growing a six-byte vector by
  // insert makes g++ 12 at -O3 report its own library code out of bounds.
  std::vector<uint8_t> out(6 + K.size() + V.size() + F.size());
  out[0] = Z;
  out[1] = E2;
  out[2] = E3;
  out[3] = E4;
  out[4] = static_cast<uint8_t>(m);
  out[5] = static_cast<uint8_t>(K.size());
  auto at = std::copy(K.begin(), K.end(), out.begin() + 6);
  at = std::copy(V.begin(), V.end(), at);
  std::copy(F.begin(), F.end(), at);
  for (size_t i = 0; i < n;) {
    uint8_t b = s[i];
    switch (choice[i]) {
      case C_LIT:
        if (route[b] >= 0) {   // a fixed code byte, written through its trailing entry
          out.push_back(K[route[b]]);
          out.push_back(0);
          i++;
          break;
        }
        out.push_back(b);
        if (b == Z) out.push_back(0);
        else if (b == E2 || b == E3 || b == E4) out.push_back(b);
        else if (litCost[b] == 2) out.push_back(0xFE);   // a trailing-count code byte as itself
        i++;
        break;
      case C_ZERO: out.push_back(0); i++; break;
      case C_E2: out.push_back(E2); i += 2; break;
      case C_E3: out.push_back(E3); i += 3; break;
      case C_E4: out.push_back(E4); i += 4; break;
      case C_ZRUN:
        out.push_back(Z);
        out.push_back(arg[i]);
        i += arg[i];
        break;
      case C_FIXED_AFTER:
        out.push_back(K[arg[i]]);
        i += 1 + F[arg[i]];
        break;
      case C_FIXED_BEFORE:
        out.push_back(K[arg[i]]);
        i += F[arg[i]] - 2;
        break;
      default: {   // C_TRAIL
        uint32_t z = zr[i];
        out.push_back(K[arg[i]]);
        out.push_back(static_cast<uint8_t>(z + 3));
        i += z + 1;
        break;
      }
    }
  }
  return out;
}
