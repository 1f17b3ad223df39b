defmodule DemoApp.CLI do
  @moduledoc """
  The demo's command line. Every mode prints something that a test can
  compare byte for byte and returns the exit status.
  """

  @env_names ~w(RELEASE_ROOT RELEASE_SYS_CONFIG __WEXLO __WEXLO_BIN_PATH _IS_TTY)

  @usage """
  Usage: demo_app [NAME...]
         demo_app --echo [ARG...]
         demo_app --env
         demo_app --stdin
         demo_app --exit N
         demo_app --raise MSG
         demo_app --help

    NAME...       print "Hello, NAME!" for each name ("Hello, world!" without one);
                  DEMO_GREETING replaces "Hello"
    --echo ARG... print the argument count, then each argument as arg[i]=<...>
                  (backslash, control and non-ASCII characters escaped)
    --env         print the variables the launcher sets, as NAME=<value>
    --stdin       read one line from standard input and print it as stdin=<...>
    --exit N      end with exit status N
    --raise MSG   fail with an unexpected error (one line on standard error, status 1)
    --help        print this text
  """

  def main(["--help" | _]), do: usage()
  def main(["-h" | _]), do: usage()

  def main(["--echo" | args]) do
    IO.puts("argc=#{length(args)}")

    args
    |> Enum.with_index()
    |> Enum.each(fn {arg, i} -> IO.puts("arg[#{i}]=<#{escape(arg)}>") end)

    0
  end

  def main(["--env"]) do
    Enum.each(@env_names, fn name ->
      case System.get_env(name) do
        nil -> IO.puts("#{name} unset")
        value -> IO.puts("#{name}=<#{escape(value)}>")
      end
    end)

    0
  end

  def main(["--stdin"]) do
    case IO.binread(:stdio, :line) do
      line when is_binary(line) -> IO.puts("stdin=<#{escape(String.trim_trailing(line, "\n"))}>")
      _ -> IO.puts("stdin=eof")
    end

    0
  end

  def main(["--exit", n]) do
    case Integer.parse(n) do
      {status, ""} when status >= 0 -> status
      _ -> fail("--exit wants a non-negative integer, got <#{escape(n)}>")
    end
  end

  def main(["--raise", message]), do: raise(message)

  def main(["-" <> _ = option | _]), do: fail("unknown option or wrong use: #{escape(option)}")

  def main([]), do: greet(["world"])
  def main(names), do: greet(names)

  defp greet(names) do
    greeting = Application.get_env(:demo_app, :greeting, "Hello")
    Enum.each(names, fn name -> IO.puts("#{greeting}, #{name}!") end)
    0
  end

  defp usage do
    IO.write(@usage)
    0
  end

  defp fail(message) do
    IO.puts(:stderr, "demo_app: #{message} (try --help)")
    2
  end

  @doc """
  The bytes of one entry of `:init.get_plain_arguments/0`. An argument that
  is not valid UTF-8 arrives as the decoder's error tuple (the text decoded
  so far and the undecoded rest), so its bytes are put back together.
  """
  def argument_bytes(arg) when is_list(arg), do: :unicode.characters_to_binary(arg)

  def argument_bytes({tag, decoded, rest}) when tag in [:error, :incomplete],
    do: argument_bytes(decoded) <> rest

  @doc """
  Makes an argument readable and unambiguous on one line: printable ASCII
  stays, a backslash doubles, anything else becomes `\\u{HEX}` of its code
  point (or `\\x{HEX}` of the byte when the text is not valid UTF-8).
  """
  def escape(text), do: escape(text, [])

  defp escape(<<>>, acc), do: acc |> Enum.reverse() |> IO.iodata_to_binary()
  defp escape(<<?\\, rest::binary>>, acc), do: escape(rest, ["\\\\" | acc])
  defp escape(<<c, rest::binary>>, acc) when c in 0x20..0x7E, do: escape(rest, [c | acc])

  defp escape(<<c::utf8, rest::binary>>, acc),
    do: escape(rest, ["\\u{" <> Integer.to_string(c, 16) <> "}" | acc])

  defp escape(<<b, rest::binary>>, acc),
    do: escape(rest, ["\\x{" <> Integer.to_string(b, 16) <> "}" | acc])
end
