defmodule Wexlo.TestFiles do
  @moduledoc false
  import ExUnit.Callbacks, only: [on_exit: 1]

  @doc "A fresh directory under the system's temporary directory, removed after the test."
  def tmp_dir! do
    dir = Path.join(System.tmp_dir!(), "wexlo-test-#{System.unique_integer([:positive])}")
    File.rm_rf!(dir)
    File.mkdir_p!(dir)
    on_exit(fn -> File.rm_rf!(dir) end)
    dir
  end

  @doc "Writes an executable shell script."
  def script!(path, body) do
    File.mkdir_p!(Path.dirname(path))
    File.write!(path, "#!/bin/sh\n" <> body)
    File.chmod!(path, 0o755)
    path
  end
end
