// The reference JPEG writer's floating-point arithmetic, written once for
// every width it is computed at: plain floats, and four or eight floats at a
// time. `Ops` gives Add, Sub, Mul and Splat for the value type `V`. The
// operations and their order are the reference's, which is what makes every
// build's coefficients the same.
#pragma once

namespace sheetsmith {

// The one-dimensional forward DCT (Arai, Agui and Nakajima) of d[0..7], in
// place, unscaled.
template <typename V, typename Ops>
inline void ForwardDct8(V d[8]) {
  const V c4 = Ops::Splat(0.707106781f);
  const V c6 = Ops::Splat(0.382683433f);
  const V c2MinusC6 = Ops::Splat(0.541196100f);
  const V c2PlusC6 = Ops::Splat(1.306562965f);
  const V tmp0 = Ops::Add(d[0], d[7]);
  const V tmp7 = Ops::Sub(d[0], d[7]);
  const V tmp1 = Ops::Add(d[1], d[6]);
  const V tmp6 = Ops::Sub(d[1], d[6]);
  const V tmp2 = Ops::Add(d[2], d[5]);
  const V tmp5 = Ops::Sub(d[2], d[5]);
  const V tmp3 = Ops::Add(d[3], d[4]);
  const V tmp4 = Ops::Sub(d[3], d[4]);

  // Even part.
  const V tmp10 = Ops::Add(tmp0, tmp3);
  const V tmp13 = Ops::Sub(tmp0, tmp3);
  const V tmp11 = Ops::Add(tmp1, tmp2);
  const V tmp12 = Ops::Sub(tmp1, tmp2);
  d[0] = Ops::Add(tmp10, tmp11);
  d[4] = Ops::Sub(tmp10, tmp11);
  const V z1 = Ops::Mul(Ops::Add(tmp12, tmp13), c4);
  d[2] = Ops::Add(tmp13, z1);
  d[6] = Ops::Sub(tmp13, z1);

  // Odd part.
  const V odd10 = Ops::Add(tmp4, tmp5);
  const V odd11 = Ops::Add(tmp5, tmp6);
  const V odd12 = Ops::Add(tmp6, tmp7);
  const V z5 = Ops::Mul(Ops::Sub(odd10, odd12), c6);
  const V z2 = Ops::Add(Ops::Mul(odd10, c2MinusC6), z5);
  const V z4 = Ops::Add(Ops::Mul(odd12, c2PlusC6), z5);
  const V z3 = Ops::Mul(odd11, c4);
  const V z11 = Ops::Add(tmp7, z3);
  const V z13 = Ops::Sub(tmp7, z3);
  d[5] = Ops::Add(z13, z2);
  d[3] = Ops::Sub(z13, z2);
  d[1] = Ops::Add(z11, z4);
  d[7] = Ops::Sub(z11, z4);
}

// Level-shifted Y, Cb and Cr of red, green and blue.
template <typename V, typename Ops>
inline void YCbCrOf(V r, V g, V b, V& y, V& cb, V& cr) {
  y = Ops::Sub(
      Ops::Add(Ops::Add(Ops::Mul(Ops::Splat(0.29900f), r), Ops::Mul(Ops::Splat(0.58700f), g)),
               Ops::Mul(Ops::Splat(0.11400f), b)),
      Ops::Splat(128.0f));
  cb = Ops::Add(Ops::Sub(Ops::Mul(Ops::Splat(-0.16874f), r), Ops::Mul(Ops::Splat(0.33126f), g)),
                Ops::Mul(Ops::Splat(0.50000f), b));
  cr = Ops::Sub(Ops::Sub(Ops::Mul(Ops::Splat(0.50000f), r), Ops::Mul(Ops::Splat(0.41869f), g)),
                Ops::Mul(Ops::Splat(0.08131f), b));
}

// Plain floats.
struct FloatOps {
  static float Add(float a, float b) { return a + b; }
  static float Sub(float a, float b) { return a - b; }
  static float Mul(float a, float b) { return a * b; }
  static float Splat(float a) { return a; }
};

}  // namespace sheetsmith
