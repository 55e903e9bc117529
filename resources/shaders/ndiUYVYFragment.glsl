#version 330 core
// NDI "UYVA" colour plane. Drawn into a target half the frame's width: each texel is one pair of
// horizontally adjacent stage pixels. The readback returns a texel's channels as B, G, R, A bytes, so
// writing (V, Y0, U, Y1) lands on the wire as U, Y0, V, Y1. Video range of the straight colour; chroma is
// the mean of the pair.
out vec4 fragColor;

uniform sampler2D u_plane0;  // the composed stage: premultiplied, row 0 is the top row
uniform vec2 u_krkb;         // (Kr, Kb) of the colour matrix

vec3 straight(vec4 c) {
    return c.a > 0.0 ? clamp(c.rgb / c.a, 0.0, 1.0) : vec3(0.0);
}

void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    vec3 a = straight(texelFetch(u_plane0, ivec2(2 * p.x, p.y), 0));
    vec3 b = straight(texelFetch(u_plane0, ivec2(2 * p.x + 1, p.y), 0));
    float kr = u_krkb.x;
    float kb = u_krkb.y;
    vec3 luma = vec3(kr, 1.0 - kr - kb, kb);
    float ya = dot(a, luma);
    float yb = dot(b, luma);
    vec3 mean = (a + b) * 0.5;
    float ym = (ya + yb) * 0.5;
    float pb = (mean.b - ym) / (2.0 * (1.0 - kb));
    float pr = (mean.r - ym) / (2.0 * (1.0 - kr));
    fragColor = vec4(128.0 + 224.0 * pr, 16.0 + 219.0 * ya, 128.0 + 224.0 * pb, 16.0 + 219.0 * yb) / 255.0;
}
