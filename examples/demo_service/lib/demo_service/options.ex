defmodule DemoService.Options do
  @moduledoc "The service's own command line: `--port N [--greeting TEXT]`."

  @usage "usage: demo_service --port N [--greeting TEXT]"

  def parse(args) do
    case OptionParser.parse(args, strict: [port: :integer, greeting: :string]) do
      {options, [], []} ->
        with {:ok, port} <- port(options[:port]) do
          {:ok, %{port: port, greeting: Keyword.get(options, :greeting, "Hello")}}
        end

      {_, _, _} ->
        {:error, @usage}
    end
  end

  defp port(port) when is_integer(port) and port in 0..65535, do: {:ok, port}
  defp port(_), do: {:error, @usage}
end
