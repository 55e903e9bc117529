#version 330 core
// Four corners passed as uniforms (xy: position in normalised device coordinates, zw: texture
// coordinate with its origin at the texture's top-left), drawn as a triangle strip in the order
// top-left, top-right, bottom-left, bottom-right. No vertex buffer is needed.
uniform vec4 u_corners[4];
out vec2 v_texCoord;

void main() {
    vec4 c = u_corners[gl_VertexID];
    v_texCoord = c.zw;
    gl_Position = vec4(c.xy, 0.0, 1.0);
}
