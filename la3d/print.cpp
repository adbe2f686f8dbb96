// Formatted printing and stream output of the algebra types (for debugging and logs).

#include <cstdio>
#include <ostream>

#include "la3d/m22.h"
#include "la3d/m33.h"
#include "la3d/m44.h"
#include "la3d/quat.h"
#include "la3d/vec2.h"
#include "la3d/vec3.h"
#include "la3d/vec4.h"

namespace vk_3dla {

void print(const vec2& v, std::FILE* f) { std::fprintf(f, "% f % f\n", v.x, v.y); }
void print(const vec3& v, std::FILE* f) { std::fprintf(f, "% f % f % f\n", v.x, v.y, v.z); }
void print(const vec4& v, std::FILE* f) {
  std::fprintf(f, "{ % f, % f, % f, % f }\n", v.x, v.y, v.z, v.w);
}
void print(const quat& q, std::FILE* f) {
  std::fprintf(f, "i:% f j:% f k:% f r:% f\n", q.x, q.y, q.z, q.w);
}
void print(const m22& a, std::FILE* f) {
  for (int i = 0; i < 2; ++i) std::fprintf(f, "%d: % f % f\n", i, a.m[i][0], a.m[i][1]);
}
void print(const m33& a, std::FILE* f) {
  for (int i = 0; i < 3; ++i)
    std::fprintf(f, "%d: % f % f % f\n", i, a.m[i][0], a.m[i][1], a.m[i][2]);
}
void print(const m44& a, std::FILE* f) {
  for (int i = 0; i < 4; ++i)
    std::fprintf(f, "%d: { % f, % f, % f, % f },\n", i, a.m[i][0], a.m[i][1], a.m[i][2], a.m[i][3]);
}

std::ostream& operator<<(std::ostream& os, const vec2& v) {
  return os << "{ " << v.x << ", " << v.y << " }";
}
std::ostream& operator<<(std::ostream& os, const vec3& v) {
  return os << "{ " << v.x << ", " << v.y << ", " << v.z << " }";
}
std::ostream& operator<<(std::ostream& os, const vec4& v) {
  return os << "{ " << v.x << ", " << v.y << ", " << v.z << ", " << v.w << " }";
}
std::ostream& operator<<(std::ostream& os, const quat& q) {
  return os << "i:" << q.x << " j:" << q.y << " k:" << q.z << " r:" << q.w;
}
std::ostream& operator<<(std::ostream& os, const m22& a) {
  for (int i = 0; i < 2; ++i) os << i << ": " << a.row(i) << "," << std::endl;
  return os;
}
std::ostream& operator<<(std::ostream& os, const m33& a) {
  for (int i = 0; i < 3; ++i) os << i << ": " << a.row(i) << "," << std::endl;
  return os;
}
std::ostream& operator<<(std::ostream& os, const m44& a) {
  for (int i = 0; i < 4; ++i)
    os << i << ": " << vec4(a.m[i][0], a.m[i][1], a.m[i][2], a.m[i][3]) << "," << std::endl;
  return os;
}

}  // namespace vk_3dla
