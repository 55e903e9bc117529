#version 330 core
// NDI "UYVA" alpha plane, packed four alpha bytes per texel in the rows below the colour plane of the same
// target (which is half the frame's width, so each of its rows holds two alpha rows). Reading the target
// back therefore gives the whole wire frame in one piece. Channels are written in the order that the
// readback's B, G, R, A bytes put back into pixel order.
out vec4 fragColor;

uniform sampler2D u_plane0;  // the composed stage: premultiplied, row 0 is the top row
uniform ivec2 u_frameSize;   // stage width and height in pixels
uniform int u_alphaTop;      // first target row of the alpha plane

float alphaAt(ivec2 p) {
    return p.y < u_frameSize.y ? texelFetch(u_plane0, p, 0).a : 0.0;
}

void main() {
    ivec2 t = ivec2(gl_FragCoord.xy);
    int w = u_frameSize.x;
    int first = (t.y - u_alphaTop) * 2 * w + 4 * t.x;
    int row = first / w;
    int col = first - row * w;
    // The four bytes run on past the row's end only when the width is not a multiple of four.
    ivec2 p[4];
    for (int k = 0; k < 4; ++k) p[k] = col + k < w ? ivec2(col + k, row) : ivec2(col + k - w, row + 1);
    fragColor = vec4(alphaAt(p[2]), alphaAt(p[1]), alphaAt(p[0]), alphaAt(p[3]));
}
