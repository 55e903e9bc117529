#version 330 core
// The compositor builds one program per sampling by defining one of SAMPLING_RGBA_PREMULTIPLIED,
// SAMPLING_RGBA_STRAIGHT, SAMPLING_YUV, SAMPLING_YUVA or SAMPLING_NV12 after the version line, and for
// the YUV ones one per colour matrix and range, given as the constants YUV_MATRIX (mat3) and YUV_OFFSET
// (vec3): constants rather than uniforms, since a software rasteriser cannot fold uniforms away.
// With PLANES_IN_BUFFER the planes of a video picture lie in one buffer texture (one byte per texel, four
// for bgra), each plane at u_layout[i] = (first texel, width, height), and are filtered here as GL_LINEAR
// with clamping to the edge would.
// Output is always premultiplied colour times the opacity.
in vec2 v_texCoord;
out vec4 fragColor;

uniform float u_opacity;

#if defined(PLANES_IN_BUFFER)
uniform samplerBuffer u_planes;
uniform ivec3 u_layout[4];

// The four texels around the sample point and the weights between them.
struct Taps {
    ivec4 at;  // top-left, top-right, bottom-left, bottom-right
    vec2 f;
};

Taps taps(ivec3 plane, int texelsPerSample) {
    vec2 p = v_texCoord * vec2(plane.yz) - 0.5;
    vec2 cell = floor(p);
    ivec2 lo = clamp(ivec2(cell), ivec2(0), plane.yz - 1);
    ivec2 hi = clamp(ivec2(cell) + 1, ivec2(0), plane.yz - 1);
    Taps t;
    t.f = p - cell;
    t.at = plane.x + texelsPerSample * ivec4(lo.y * plane.y + lo.x, lo.y * plane.y + hi.x, hi.y * plane.y + lo.x,
                                             hi.y * plane.y + hi.x);
    return t;
}

vec4 blend(vec4 a, vec4 b, vec4 c, vec4 d, vec2 f) { return mix(mix(a, b, f.x), mix(c, d, f.x), f.y); }

vec4 sampleTexels(int plane) {
    Taps t = taps(u_layout[plane], 1);
    return blend(texelFetch(u_planes, t.at.x), texelFetch(u_planes, t.at.y), texelFetch(u_planes, t.at.z),
                 texelFetch(u_planes, t.at.w), t.f);
}

float sampleByte(int plane) { return sampleTexels(plane).r; }

// nv12's chroma: U and V side by side, two texels per sample.
vec2 samplePairs(int plane) {
    Taps t = taps(u_layout[plane], 2);
    vec4 u = vec4(texelFetch(u_planes, t.at.x).r, texelFetch(u_planes, t.at.y).r, texelFetch(u_planes, t.at.z).r,
                  texelFetch(u_planes, t.at.w).r);
    vec4 v = vec4(texelFetch(u_planes, t.at.x + 1).r, texelFetch(u_planes, t.at.y + 1).r,
                  texelFetch(u_planes, t.at.z + 1).r, texelFetch(u_planes, t.at.w + 1).r);
    vec2 top = mix(vec2(u.x, v.x), vec2(u.y, v.y), t.f.x);
    vec2 bottom = mix(vec2(u.z, v.z), vec2(u.w, v.w), t.f.x);
    return mix(top, bottom, t.f.y);
}

#define RGBA_PLANE() sampleTexels(0).bgra
#define Y_PLANE() sampleByte(0)
#define UV_PLANE() samplePairs(1)
#define U_PLANE() sampleByte(1)
#define V_PLANE() sampleByte(2)
#define A_PLANE() sampleByte(3)
#else
uniform sampler2D u_plane0;
uniform sampler2D u_plane1;
uniform sampler2D u_plane2;
uniform sampler2D u_plane3;

#define RGBA_PLANE() texture(u_plane0, v_texCoord)
#define Y_PLANE() texture(u_plane0, v_texCoord).r
#define UV_PLANE() texture(u_plane1, v_texCoord).rg
#define U_PLANE() texture(u_plane1, v_texCoord).r
#define V_PLANE() texture(u_plane2, v_texCoord).r
#define A_PLANE() texture(u_plane3, v_texCoord).r
#endif

void main() {
    vec4 c;
#if defined(SAMPLING_RGBA_STRAIGHT)
    c = RGBA_PLANE();
    c.rgb *= c.a;
#elif defined(SAMPLING_YUV) || defined(SAMPLING_YUVA) || defined(SAMPLING_NV12)
    vec3 yuv;
    yuv.x = Y_PLANE();
#if defined(SAMPLING_NV12)
    yuv.yz = UV_PLANE();
#else
    yuv.y = U_PLANE();
    yuv.z = V_PLANE();
#endif
    vec3 rgb = clamp(YUV_MATRIX * (yuv - YUV_OFFSET), 0.0, 1.0);
#if defined(SAMPLING_YUVA)
    float a = A_PLANE();
#else
    float a = 1.0;
#endif
    c = vec4(rgb * a, a);
#else
    c = RGBA_PLANE();
#endif
    fragColor = c * u_opacity;
}
