# Takes out the paragraph breaks scdoc writes where the man macros start or end a paragraph
# anyway (after .TH, .SH and .SS; before .SH, .SS and another break; at the end), which
# `mandoc -T lint` reports. A break just before the end of an indented block moves after it,
# where it still puts a blank line between the items of a list.
{ line[NR] = $0 }
END {
  n = 0
  for (i = 1; i <= NR; i++) {
    if (line[i] == ".P" && line[i + 1] == ".RE") {
      out[++n] = ".RE"
      out[++n] = ".P"
      i++
    } else {
      out[++n] = line[i]
    }
  }
  for (i = 1; i <= n; i++) {
    if (out[i] == ".P" && (i == n || out[i - 1] ~ /^\.(TH|SH|SS) / || out[i + 1] ~ /^\.(SH|SS|P)( |$)/))
      continue
    print out[i]
  }
}
