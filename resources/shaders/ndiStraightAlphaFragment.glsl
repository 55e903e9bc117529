#version 330 core
// NDI "BGRA": the stage pixel with its colour taken from premultiplied to straight alpha. The readback
// returns the channels as B, G, R, A bytes, which is the wire order.
out vec4 fragColor;

uniform sampler2D u_plane0;  // the composed stage: premultiplied, row 0 is the top row

void main() {
    vec4 c = texelFetch(u_plane0, ivec2(gl_FragCoord.xy), 0);
    fragColor = vec4(c.a > 0.0 ? clamp(c.rgb / c.a, 0.0, 1.0) : vec3(0.0), c.a);
}
