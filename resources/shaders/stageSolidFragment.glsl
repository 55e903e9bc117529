#version 330 core
// u_color is already premultiplied: (r * opacity, g * opacity, b * opacity, opacity).
out vec4 fragColor;
uniform vec4 u_color;

void main() {
    fragColor = u_color;
}
