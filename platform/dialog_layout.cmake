# The status dialog's layout in dialog units of its 8 pt "MS Sans Serif" font: the window's
# position and size, then each control's left, top, width and height. The one table behind
# the Windows template (dialog_win32.rc.in), the GTK window (dialog_layout.hpp.in) and the
# end-to-end scripts' click points and regions (dialog_layout.sh.in).
set(dialog_boxes
  #          left top width height
  window      20  10  396  63
  display      2   2  321  58
  indicator  329   2   64  12
  label      329  23   64  12
  crc_check  329  50   64  10
  invert     329  38   64  10)

# Writes each box as `NAME_rc` (x, y, w, h), `NAME_cpp` ({x, y, w, h}) and `NAME_sh`
# (x y w h) for configure_file.
function(dialog_layout_variables)
  set(rows ${dialog_boxes})
  while(rows)
    list(POP_FRONT rows name x y w h)
    set(${name}_rc "${x}, ${y}, ${w}, ${h}" PARENT_SCOPE)
    set(${name}_cpp "{${x}, ${y}, ${w}, ${h}}" PARENT_SCOPE)
    set(${name}_sh "${x} ${y} ${w} ${h}" PARENT_SCOPE)
  endwhile()
endfunction()
