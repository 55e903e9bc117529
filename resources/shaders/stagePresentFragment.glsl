#version 330 core
// The stage, masked to a rectangle of the drawable's size with rounded corners (one pixel of soft edge).
in vec2 v_texCoord;
out vec4 fragColor;

uniform sampler2D u_plane0;
uniform vec2 u_drawableSize;
uniform float u_radius;

void main() {
    vec4 c = texture(u_plane0, v_texCoord);
    vec2 halfSize = u_drawableSize * 0.5;
    float r = min(u_radius, min(halfSize.x, halfSize.y));
    vec2 q = abs(gl_FragCoord.xy - halfSize) - (halfSize - vec2(r));
    float d = length(max(q, 0.0)) + min(max(q.x, q.y), 0.0) - r;
    fragColor = c * clamp(0.5 - d, 0.0, 1.0);
}
